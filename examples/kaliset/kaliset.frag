// Kaliset: Kali's map p -> |p| / (p.p) - c (mirror every coordinate to its
// absolute value, invert in the unit sphere, shift) turned into an escape
// fractal: the inversion is limited to the shell between the radii 0.5 and
// 1 and the result scaled by 2, so far points fly off. The scale of the
// map's derivative, kept along, gives the distance estimate |p| / dr, and
// the camera flies through the caverns it carves.
//
// eye and rot are the camera; udef[0] shifts the colours, udef[1] adds
// iterations, udef[2] brightens, udef[4] to udef[6] are added to the shift c
// (the script lets it drift while the animation time runs). Depth is
// written for depth of field.
uniform ivec2 size;
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

int iterations;
vec3 shift;
float trap;

float distanceEstimate(vec3 p)
{
    const float scale = 2.0;
    float dr = 1.0;
    trap = 1e10;
    for (int i = 0; i < 16; i++) {
        if (i >= iterations) break;
        float r2 = clamp(dot(p, p), 0.25, 1.0);
        p = abs(p) * (scale / r2) - shift;
        dr = dr * (scale / r2) + 1.0;
        trap = min(trap, abs(p.z));
    }
    return length(p) / dr;
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
    iterations = 8 + int(clamp(udef[1], 0.0, 0.6) * 10.0);
    shift = vec3(0.6, 0.8, 0.7) + vec3(udef[4], udef[5], udef[6]);
    float aspect = float(size.x) / float(size.y);
    vec3 ray = normalize(cameraToScene(vec3(screen.x * aspect, screen.y, 1.4)));

    float t = 0.0;
    float pixel = 1.0 / float(size.y);
    bool hit = false;
    int steps = 0;
    for (int i = 0; i < 100; i++) {
        float d = distanceEstimate(eye + ray * t);
        steps = i;
        if (d < pixel * t * 1.5 + 1e-5) {
            hit = true;
            break;
        }
        t += d * 0.9;
        if (t > maxDepth) break;
    }

    vec3 glow = vec3(0.02, 0.01, 0.04);
    float occlusion = 1.0 - float(steps) / 100.0;
    if (!hit) {
        gl_FragColor = vec4((glow + vec3(0.3, 0.15, 0.5) * (1.0 - occlusion)) * (1.0 + udef[2]), 1.0);
        gl_FragDepth = 0.999;
        return;
    }
    vec3 p = eye + ray * t;
    float trapAtHit = trap;
    vec3 n = surfaceNormal(p, max(pixel * t * 0.5, 1e-5));
    float diffuse = max(dot(n, -ray), 0.0);
    vec3 base = 0.5 + 0.5 * cos(6.2831853 * (udef[0] + vec3(0.0, 0.33, 0.67) + 0.8 * trapAtHit));
    vec3 colour = base * (0.1 + 0.9 * diffuse) * occlusion;
    colour = mix(colour, glow, clamp(t / maxDepth, 0.0, 1.0));
    gl_FragColor = vec4(colour * (1.0 + udef[2]), 1.0);
    gl_FragDepth = clamp(t / maxDepth, 0.0, 0.999);
}
