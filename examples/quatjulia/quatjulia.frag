// Quaternion Julia set: z -> z^2 + c with z and c quaternions. The picture
// is the three-dimensional slice of the four-dimensional set where the last
// component of the starting point is 0. The derivative grows as
// |dz| -> 2 |z| |dz|, and 0.5 |z| log|z| / |dz| estimates the distance.
//
// eye and rot are the camera; udef[0] shifts the colours, udef[1] adds
// iterations, udef[2] brightens, udef[4] to udef[7] are the constant c (the
// script moves it along a slow loop while the animation time runs). Depth
// is written for depth of field.
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

vec4 constant;
int iterations;
float trap;

vec4 square(vec4 q)
{
    // (a, v)^2 = (a^2 - v.v, 2 a v), the real part kept in x.
    return vec4(q.x * q.x - dot(q.yzw, q.yzw), 2.0 * q.x * q.yzw);
}

float distanceEstimate(vec3 p)
{
    vec4 z = vec4(p, 0.0);
    float dz = 1.0;
    float r2 = dot(z, z);
    trap = 1e10;
    for (int i = 0; i < 20; i++) {
        if (i >= iterations || r2 > 16.0) break;
        dz = 2.0 * sqrt(r2) * dz;
        z = square(z) + constant;
        r2 = dot(z, z);
        trap = min(trap, r2);
    }
    float r = sqrt(r2);
    return 0.5 * r * log(r) / dz;
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
    constant = vec4(udef[4], udef[5], udef[6], udef[7]);
    iterations = 10 + int(clamp(udef[1], 0.0, 1.0) * 10.0);
    float aspect = float(size.x) / float(size.y);
    vec3 ray = normalize(cameraToScene(vec3(screen.x * aspect, screen.y, 1.8)));

    float t = 0.0;
    float pixel = 1.0 / float(size.y);
    bool hit = false;
    int steps = 0;
    for (int i = 0; i < 150; i++) {
        float d = distanceEstimate(eye + ray * t);
        steps = i;
        if (d < pixel * t * 0.6 + 1e-5) {
            hit = true;
            break;
        }
        t += d * 0.9;
        if (t > maxDepth) break;
    }

    vec3 back = mix(vec3(0.9, 0.85, 0.8), vec3(0.45, 0.55, 0.75), 0.5 + 0.5 * ray.y);
    if (!hit) {
        gl_FragColor = vec4(back, 1.0);
        gl_FragDepth = 0.999;
        return;
    }
    vec3 p = eye + ray * t;
    float trapAtHit = trap;
    vec3 n = surfaceNormal(p, max(pixel * t * 0.5, 1e-5));
    vec3 light = normalize(vec3(0.3, 0.9, -0.3));
    float diffuse = max(dot(n, light), 0.0);
    float specular = pow(max(dot(reflect(ray, n), light), 0.0), 24.0);
    float occlusion = 1.0 - float(steps) / 150.0;
    vec3 base = 0.5 + 0.5 * cos(6.2831853 * (udef[0] + vec3(0.3, 0.2, 0.1) + 0.5 * sqrt(trapAtHit)));
    vec3 colour = (base * (0.2 + 0.8 * diffuse) + 0.5 * specular) * occlusion;
    gl_FragColor = vec4(colour * (1.0 + udef[2]), 1.0);
    gl_FragDepth = clamp(t / maxDepth, 0.0, 0.999);
}
