// Octahedron: a kaleidoscopic IFS written as a pasted image shader
// (mainImage). Each step folds space into one of the octahedron's 48
// mirror-image wedges (the absolute value, then the coordinates sorted), then
// scales it by 2 about the vertex (1, 0, 0); what is left after twelve steps
// is a lattice of ever smaller octahedra. iTime slowly turns the folds.
//
// The two uniforms below are the studio's camera, added to the pasted text
// so that the arrow keys and the mouse fly through it; without them it would
// run as it stands, seen from a fixed place.
uniform vec3 eye;
uniform vec4 rot;
uniform float twist; // @param 0 1 0.35 "Twist"

vec3 cameraToScene(vec3 v)
{
    vec3 q = -rot.xyz;
    vec3 t = 2.0 * cross(q, v);
    return v + rot.w * t + cross(q, t);
}

mat2 turn(float a)
{
    float c = cos(a), s = sin(a);
    return mat2(c, -s, s, c);
}

float orbit;

float distanceEstimate(vec3 p)
{
    const float scale = 2.0;
    const vec3 corner = vec3(1.0, 0.0, 0.0);
    mat2 spin = turn(twist * sin(0.15 * iTime));
    float size = 1.0;
    orbit = 1e10;
    for (int i = 0; i < 12; i++) {
        p = abs(p);
        if (p.x < p.y) p.xy = p.yx;
        if (p.x < p.z) p.xz = p.zx;
        if (p.y < p.z) p.yz = p.zy;
        p.yz = spin * p.yz;
        p = p * scale - corner * (scale - 1.0);
        size *= scale;
        orbit = min(orbit, dot(p, p));
    }
    // The distance to the octahedron |x| + |y| + |z| = 1, scaled back.
    return (abs(p.x) + abs(p.y) + abs(p.z) - 1.0) * 0.57735 / size;
}

vec3 surfaceNormal(vec3 p, float h)
{
    vec2 k = vec2(1.0, -1.0);
    return normalize(k.xyy * distanceEstimate(p + k.xyy * h) +
                     k.yyx * distanceEstimate(p + k.yyx * h) +
                     k.yxy * distanceEstimate(p + k.yxy * h) +
                     k.xxx * distanceEstimate(p + k.xxx * h));
}

void mainImage(out vec4 fragColor, in vec2 fragCoord)
{
    vec2 uv = (2.0 * fragCoord - iResolution.xy) / iResolution.y;
    vec3 ray = normalize(cameraToScene(vec3(uv, 1.8)));
    vec3 from = eye;
    float pixel = 1.0 / iResolution.y;
    float t = 0.0;
    bool hit = false;
    int steps = 0;
    for (int i = 0; i < 140; i++) {
        float d = distanceEstimate(from + ray * t);
        steps = i;
        if (d < pixel * t * 0.7 + 1e-5) {
            hit = true;
            break;
        }
        t += d * 0.9;
        if (t > 10.0) break;
    }
    vec3 sky = mix(vec3(0.05, 0.02, 0.03), vec3(0.25, 0.16, 0.10), 0.5 + 0.5 * ray.y);
    if (!hit) {
        fragColor = vec4(sky, 1.0);
        return;
    }
    vec3 p = from + ray * t;
    float trap = orbit;
    vec3 n = surfaceNormal(p, max(pixel * t * 0.5, 1e-5));
    float diffuse = max(dot(n, normalize(vec3(-0.5, 0.8, -0.4))), 0.0);
    float occlusion = 1.0 - float(steps) / 140.0;
    vec3 base = 0.55 + 0.45 * cos(6.2831853 * (vec3(0.05, 0.2, 0.4) + 0.15 * log(1.0 + trap)));
    vec3 colour = base * (0.2 + 0.8 * diffuse) * occlusion;
    fragColor = vec4(mix(colour, sky, clamp(t / 10.0, 0.0, 1.0)), 1.0);
}
