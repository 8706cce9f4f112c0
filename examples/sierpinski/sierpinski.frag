// Sierpinski tetrahedron as a kaleidoscopic iterated function system: the
// three mirror planes x + y = 0, x + z = 0 and y + z = 0 fold every point
// towards the corner (1, 1, 1) of the tetrahedron, and scaling by 2 about
// that corner repeats the step. Each step halves distances, so the length
// of the final point, halved once per step, estimates the distance.
//
// eye and rot are the camera; udef[0] shifts the colours, udef[1] adds
// iterations, udef[2] brightens, udef[3] turns space between the folds
// (the tetrahedron becomes a crystal of other forms). Depth is written for
// depth of field.
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
float twist;
float trap;

float distanceEstimate(vec3 p)
{
    float c = cos(twist), s = sin(twist);
    float scale = 1.0;
    trap = 1e10;
    for (int i = 0; i < 20; i++) {
        if (i >= iterations) break;
        if (p.x + p.y < 0.0) p.xy = -p.yx;
        if (p.x + p.z < 0.0) p.xz = -p.zx;
        if (p.y + p.z < 0.0) p.yz = -p.zy;
        p.xz = vec2(c * p.x - s * p.z, s * p.x + c * p.z);
        p = p * 2.0 - 1.0;
        scale *= 2.0;
        trap = min(trap, dot(p, p));
    }
    return (length(p) - 1.0) / scale;
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
    iterations = 9 + int(clamp(udef[1], 0.0, 1.0) * 8.0);
    twist = udef[3];
    float aspect = float(size.x) / float(size.y);
    vec3 ray = normalize(cameraToScene(vec3(screen.x * aspect, screen.y, 1.7)));

    float t = 0.0;
    float pixel = 1.0 / float(size.y);
    bool hit = false;
    int steps = 0;
    for (int i = 0; i < 140; i++) {
        float d = distanceEstimate(eye + ray * t);
        steps = i;
        if (d < pixel * t * 0.6 + 1e-5) {
            hit = true;
            break;
        }
        t += d;
        if (t > maxDepth) break;
    }

    vec3 back = mix(vec3(0.1, 0.1, 0.12), vec3(0.5, 0.55, 0.6), 0.5 + 0.5 * ray.y);
    if (!hit) {
        gl_FragColor = vec4(back, 1.0);
        gl_FragDepth = 0.999;
        return;
    }
    vec3 p = eye + ray * t;
    float trapAtHit = trap;
    vec3 n = surfaceNormal(p, max(pixel * t * 0.5, 1e-5));
    vec3 light = normalize(vec3(-0.4, 0.8, -0.5));
    float diffuse = 0.5 + 0.5 * dot(n, light);
    float occlusion = 1.0 - float(steps) / 140.0;
    vec3 base = 0.65 + 0.35 * cos(6.2831853 * (udef[0] + vec3(0.0, 0.1, 0.2) + 0.4 * p.y + 0.05 * trapAtHit));
    vec3 colour = base * diffuse * (0.4 + 0.6 * occlusion);
    gl_FragColor = vec4(colour * (1.0 + udef[2]), 1.0);
    gl_FragDepth = clamp(t / maxDepth, 0.0, 0.999);
}
