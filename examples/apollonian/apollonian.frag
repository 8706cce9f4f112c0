// Apollonian gasket in space: space is cut into a lattice of cubes, and in
// each cube a point is inverted in a sphere about the cube's middle. The
// inversions pack spheres between spheres without end; every step scales
// distances by the inversion's stretch k, so the distance to a cube's
// middle plane in the final step, divided by the product of the stretches,
// estimates the distance to the gasket.
//
// eye and rot are the camera; udef[0] shifts the colours, udef[1] adds
// iterations, udef[2] brightens, udef[3] is added to the inversion's power
// 1.15 (from tight foam to open lace). Depth is written for depth of field.
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
float strength;
float trap;

float distanceEstimate(vec3 p)
{
    float scale = 1.0;
    trap = 1e10;
    for (int i = 0; i < 12; i++) {
        if (i >= iterations) break;
        // Into the cube of side 2 about the origin.
        p = 2.0 * fract(0.5 * p + 0.5) - 1.0;
        float r2 = dot(p, p);
        trap = min(trap, r2);
        float k = strength / r2;
        p *= k;
        scale *= k;
    }
    return 0.25 * abs(p.y) / scale;
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
    iterations = 7 + int(clamp(udef[1], 0.0, 0.5) * 10.0);
    strength = 1.15 + udef[3];
    float aspect = float(size.x) / float(size.y);
    vec3 ray = normalize(cameraToScene(vec3(screen.x * aspect, screen.y, 1.5)));

    float t = 0.0;
    float pixel = 1.0 / float(size.y);
    bool hit = false;
    int steps = 0;
    for (int i = 0; i < 110; i++) {
        float d = distanceEstimate(eye + ray * t);
        steps = i;
        if (d < pixel * t * 0.7 + 1e-5) {
            hit = true;
            break;
        }
        t += d;
        if (t > maxDepth) break;
    }

    vec3 fog = vec3(0.75, 0.7, 0.6);
    if (!hit) {
        gl_FragColor = vec4(fog * (1.0 + udef[2]), 1.0);
        gl_FragDepth = 0.999;
        return;
    }
    vec3 p = eye + ray * t;
    float trapAtHit = trap;
    vec3 n = surfaceNormal(p, max(pixel * t * 0.5, 1e-5));
    vec3 light = normalize(vec3(0.5, 0.8, -0.3));
    float diffuse = 0.5 + 0.5 * dot(n, light);
    float occlusion = 1.0 - float(steps) / 110.0;
    vec3 base = 0.6 + 0.4 * cos(6.2831853 * (udef[0] + vec3(0.0, 0.08, 0.2) + 1.5 * trapAtHit));
    vec3 colour = base * diffuse * occlusion * occlusion;
    colour = mix(colour, fog, clamp(t / maxDepth, 0.0, 1.0));
    gl_FragColor = vec4(colour * (1.0 + udef[2]), 1.0);
    gl_FragDepth = clamp(t / maxDepth, 0.0, 0.999);
}
