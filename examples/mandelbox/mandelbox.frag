// Mandelbox: each step folds space into a box (coordinates beyond 1 are
// reflected back), then inverts it in a sphere (points near the middle are
// pushed out, a small ball is scaled up uniformly), then scales it and adds
// the starting point. The running derivative of the scale gives the
// distance estimate |z| / |dr|.
//
// eye and rot are the camera. udef[0] shifts the colours, udef[1] adds
// iterations, udef[2] brightens, udef[4] is added to the scale -2.2 (the
// script breathes it with the animation time). Depth is written for depth of
// field.
uniform ivec2 size;
uniform float time;
uniform vec3 eye;
uniform vec4 rot;
uniform float udef[16];
uniform float maxDepth;

varying vec2 screen;

// Rays leave the camera with the turn opposite to its orientation, as the
// flight controls move it.
vec3 cameraToScene(vec3 v)
{
    vec3 q = -rot.xyz;
    vec3 t = 2.0 * cross(q, v);
    return v + rot.w * t + cross(q, t);
}

float scale;
int iterations;
float trap;

float distanceEstimate(vec3 c)
{
    const float minRadius2 = 0.25;
    const float fixedRadius2 = 1.0;
    vec3 z = c;
    float dr = 1.0;
    trap = 1e10;
    for (int i = 0; i < 24; i++) {
        if (i >= iterations) break;
        z = clamp(z, -1.0, 1.0) * 2.0 - z;
        float r2 = dot(z, z);
        if (r2 < minRadius2) {
            z *= fixedRadius2 / minRadius2;
            dr *= fixedRadius2 / minRadius2;
        } else if (r2 < fixedRadius2) {
            z *= fixedRadius2 / r2;
            dr *= fixedRadius2 / r2;
        }
        z = z * scale + c;
        dr = dr * abs(scale) + 1.0;
        trap = min(trap, r2);
    }
    return length(z) / abs(dr);
}

vec3 surfaceNormal(vec3 p, float h)
{
    vec2 k = vec2(1.0, -1.0);
    return normalize(k.xyy * distanceEstimate(p + k.xyy * h) +
                     k.yyx * distanceEstimate(p + k.yyx * h) +
                     k.yxy * distanceEstimate(p + k.yxy * h) +
                     k.xxx * distanceEstimate(p + k.xxx * h));
}

void main()
{
    scale = -2.2 + udef[4];
    iterations = 10 + int(clamp(udef[1], 0.0, 1.0) * 10.0);
    float aspect = float(size.x) / float(size.y);
    vec3 ray = normalize(cameraToScene(vec3(screen.x * aspect, screen.y, 1.6)));

    float t = 0.0;
    float pixel = 1.0 / float(size.y);
    bool hit = false;
    int steps = 0;
    for (int i = 0; i < 140; i++) {
        float d = distanceEstimate(eye + ray * t);
        steps = i;
        if (d < pixel * t * 0.8 + 1e-5) {
            hit = true;
            break;
        }
        t += d;
        if (t > maxDepth) break;
    }

    vec3 haze = vec3(0.55, 0.6, 0.7) * (0.6 + 0.4 * ray.y);
    if (!hit) {
        gl_FragColor = vec4(haze, 1.0);
        gl_FragDepth = 0.999;
        return;
    }
    vec3 p = eye + ray * t;
    float trapAtHit = trap;
    vec3 n = surfaceNormal(p, max(pixel * t * 0.5, 1e-5));
    vec3 light = normalize(vec3(-0.5, 0.9, -0.4));
    float diffuse = max(dot(n, light), 0.0);
    float occlusion = 1.0 - float(steps) / 140.0;
    vec3 base = 0.55 + 0.45 * cos(6.2831853 * (udef[0] + vec3(0.0, 0.1, 0.25) + 0.35 * trapAtHit));
    vec3 colour = base * (0.2 + 0.8 * diffuse) * occlusion * occlusion;
    colour = mix(colour, haze, clamp(t / maxDepth, 0.0, 1.0) * 0.8);
    gl_FragColor = vec4(colour * (1.0 + udef[2]), 1.0);
    gl_FragDepth = clamp(t / maxDepth, 0.0, 0.999);
}
