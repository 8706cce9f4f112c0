// Menger sponge: a cube cut into 27 smaller cubes of which the 20 on its
// edges and corners stay, again and again. Folding space by its mirror
// planes (absolute values, then sorting the coordinates) brings every point
// into one wedge; there the nearest kept cube is the corner cube or the
// edge cube, and scaling by 3 about it repeats the step. The distance to the
// unit cube, divided by 3 for each step, estimates the distance.
//
// The layer's background picture (tex) is the sky, wrapped round the scene.
// eye and rot are the camera; udef[0] shifts the colours, udef[1] adds
// iterations, udef[2] brightens, udef[3] turns the folds (twists the sponge).
// Depth is written for depth of field.
uniform ivec2 size;
uniform vec3 eye;
uniform vec4 rot;
uniform float udef[16];
uniform float maxDepth;
uniform sampler2D tex;

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
float twist;
float trap;

float boxDistance(vec3 p, vec3 halfSize)
{
    vec3 d = abs(p) - halfSize;
    return length(max(d, 0.0)) + min(max(d.x, max(d.y, d.z)), 0.0);
}

float distanceEstimate(vec3 p)
{
    float scale = 1.0;
    float c = cos(twist), s = sin(twist);
    trap = 1e10;
    for (int i = 0; i < 8; i++) {
        if (i >= iterations) break;
        p = abs(p);
        if (p.x < p.y) p.xy = p.yx;
        if (p.x < p.z) p.xz = p.zx;
        if (p.y < p.z) p.yz = p.zy;
        p = p * 3.0 - 2.0;
        // Below a third of the way up the wedge lies the edge cube, not the
        // corner cube.
        if (p.z < -1.0) p.z += 2.0;
        p.xy = vec2(c * p.x - s * p.y, s * p.x + c * p.y);
        scale *= 3.0;
        trap = min(trap, length(p.xy));
    }
    return boxDistance(p, vec3(1.0)) / scale;
}

vec3 surfaceNormal(vec3 p, float h)
{
    vec2 k = vec2(1.0, -1.0);
    return normalize(k.xyy * distanceEstimate(p + k.xyy * h) +
                     k.yyx * distanceEstimate(p + k.yyx * h) +
                     k.yxy * distanceEstimate(p + k.yxy * h) +
                     k.xxx * distanceEstimate(p + k.xxx * h));
}

vec3 sky(vec3 ray)
{
    vec2 uv = vec2(atan(ray.x, ray.z) / 6.2831853 + 0.5, asin(clamp(ray.y, -1.0, 1.0)) / 3.1415927 + 0.5);
    return texture2D(tex, uv).rgb;
}

void main()
{
    iterations = 4 + int(clamp(udef[1], 0.0, 0.4) * 10.0);
    twist = udef[3];
    float aspect = float(size.x) / float(size.y);
    vec3 ray = normalize(cameraToScene(vec3(screen.x * aspect, screen.y, 1.6)));

    float t = 0.0;
    float pixel = 1.0 / float(size.y);
    bool hit = false;
    int steps = 0;
    for (int i = 0; i < 120; i++) {
        float d = distanceEstimate(eye + ray * t);
        steps = i;
        if (d < pixel * t * 0.5 + 1e-5) {
            hit = true;
            break;
        }
        t += d;
        if (t > maxDepth) break;
    }

    if (!hit) {
        gl_FragColor = vec4(sky(ray) * (1.0 + udef[2]), 1.0);
        gl_FragDepth = 0.999;
        return;
    }
    vec3 p = eye + ray * t;
    float trapAtHit = trap;
    vec3 n = surfaceNormal(p, max(pixel * t * 0.5, 1e-5));
    vec3 light = normalize(vec3(0.4, 0.7, -0.6));
    float diffuse = max(dot(n, light), 0.0);
    float occlusion = 1.0 - float(steps) / 120.0;
    vec3 base = 0.6 + 0.4 * cos(6.2831853 * (udef[0] + vec3(0.05, 0.1, 0.2) + 0.4 * trapAtHit));
    // The sky shows in the faces that look at it.
    vec3 reflected = sky(reflect(ray, n));
    vec3 colour = (base * (0.15 + 0.85 * diffuse) + 0.25 * reflected) * occlusion;
    gl_FragColor = vec4(colour * (1.0 + udef[2]), 1.0);
    gl_FragDepth = clamp(t / maxDepth, 0.0, 0.999);
}
