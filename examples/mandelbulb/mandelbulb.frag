// Mandelbulb: the Mandelbrot iteration z -> z^n + c carried into three
// dimensions by raising a point's spherical coordinates to the power n
// (radius to the n-th power, both angles times n). It is ray-marched with
// the distance estimate 0.5 * log(r) * r / |dz|.
//
// The camera flies through it: eye is the camera's place, rot its turn.
// udef[0] shifts the colours, udef[1] adds detail (iterations),
// udef[2] brightens, udef[4] is added to the power (a named parameter: the
// script swings it while the animation timer runs); Power and Tint are in
// View > Shader Parameters. The depth goes to the depth buffer, so depth of
// field focuses on the surface.
uniform ivec2 size;
uniform float time;
uniform vec3 eye;
uniform vec4 rot;
uniform float udef[16];
uniform float maxDepth;
uniform float power; // @param 2 16 8 "Power"
uniform vec3 tint; // @param colour 1,1,1 "Tint"

varying vec2 screen;

// The camera's turn maps scene vectors into the camera's frame; a ray leaves
// the camera with the opposite turn, the one the flight controls give the
// velocity, so flying forward goes where the picture's middle looks.
vec3 cameraToScene(vec3 v)
{
    vec3 q = -rot.xyz;
    vec3 t = 2.0 * cross(q, v);
    return v + rot.w * t + cross(q, t);
}

float bulbPower;
int iterations;
float trap;

float distanceEstimate(vec3 c)
{
    vec3 z = c;
    float dr = 1.0;
    float r = length(z);
    trap = 1e10;
    for (int i = 0; i < 24; i++) {
        if (i >= iterations || r > 2.0) break;
        // z^n in spherical coordinates.
        float theta = acos(clamp(z.z / r, -1.0, 1.0)) * bulbPower;
        float phi = atan(z.y, z.x) * bulbPower;
        float rn = pow(r, bulbPower - 1.0);
        dr = rn * bulbPower * dr + 1.0;
        rn *= r;
        z = rn * vec3(sin(theta) * cos(phi), sin(theta) * sin(phi), cos(theta)) + c;
        r = length(z);
        trap = min(trap, dot(z, z));
    }
    return 0.5 * log(r) * r / dr;
}

vec3 surfaceNormal(vec3 p, float h)
{
    // Four samples at the corners of a tetrahedron give the gradient.
    vec2 k = vec2(1.0, -1.0);
    return normalize(k.xyy * distanceEstimate(p + k.xyy * h) +
                     k.yyx * distanceEstimate(p + k.yyx * h) +
                     k.yxy * distanceEstimate(p + k.yxy * h) +
                     k.xxx * distanceEstimate(p + k.xxx * h));
}

void main()
{
    bulbPower = power + udef[4];
    iterations = 8 + int(clamp(udef[1], 0.0, 1.6) * 10.0);
    float aspect = float(size.x) / float(size.y);
    vec3 ray = normalize(cameraToScene(vec3(screen.x * aspect, screen.y, 1.8)));
    vec3 from = eye;

    float t = 0.0;
    float pixel = 1.0 / float(size.y);
    bool hit = false;
    int steps = 0;
    for (int i = 0; i < 160; i++) {
        float d = distanceEstimate(from + ray * t);
        steps = i;
        if (d < pixel * t * 0.7 + 1e-5) {
            hit = true;
            break;
        }
        t += d * 0.9;
        if (t > maxDepth) break;
    }

    vec3 sky = mix(vec3(0.02, 0.03, 0.08), vec3(0.18, 0.12, 0.25), 0.5 + 0.5 * ray.y);
    if (!hit) {
        gl_FragColor = vec4(sky, 1.0);
        gl_FragDepth = 0.999;
        return;
    }
    vec3 p = from + ray * t;
    float trapAtHit = trap;
    vec3 n = surfaceNormal(p, max(pixel * t * 0.5, 1e-5));
    vec3 light = normalize(vec3(0.6, 0.8, -0.5));
    float diffuse = max(dot(n, light), 0.0);
    float rim = pow(1.0 - max(dot(n, -ray), 0.0), 3.0);
    float occlusion = 1.0 - float(steps) / 160.0;
    vec3 base = 0.5 + 0.5 * cos(6.2831853 * (udef[0] + vec3(0.0, 0.15, 0.3) + 0.6 * sqrt(trapAtHit)));
    vec3 colour = base * (0.15 + 0.85 * diffuse) * occlusion + rim * vec3(0.4, 0.3, 0.6);
    colour = mix(colour, sky, clamp(t / maxDepth, 0.0, 1.0));
    gl_FragColor = vec4(tint * colour * (1.0 + udef[2]), 1.0);
    gl_FragDepth = clamp(t / maxDepth, 0.0, 0.999);
}
