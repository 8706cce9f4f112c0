// Default fragment shader: a smooth-coloured Mandelbrot set.
//
// The camera steers it: eye.xy is the point in the middle of the picture,
// flying forward (eye.z) zooms in, and the camera's roll turns the view.
// udef[0] shifts the colours, udef[1] stretches the colour bands,
// udef[2] adds iterations for deep zooms, udef[3] brightens the picture.
// time cycles the colours while the animation timer runs.
uniform ivec2 size;
uniform float time;
uniform vec3 eye;
uniform vec4 rot;
uniform float udef[16];

varying vec2 screen;

vec3 rotate(vec4 q, vec3 v)
{
    vec3 t = 2.0 * cross(q.xyz, v);
    return v + q.w * t + cross(q.xyz, t);
}

vec3 palette(float t)
{
    // Cosine palette: bands of deep blue, white and amber around the set.
    return 0.5 + 0.5 * cos(3.0 + t + vec3(0.0, 0.6, 1.0) + 6.2831853 * udef[0]);
}

void main()
{
    float aspect = float(size.x) / float(size.y);
    float zoom = 1.5 * exp(-(eye.z + 3.0));
    vec3 offset = rotate(rot, vec3(screen.x * aspect, screen.y, 0.0));
    vec2 c = vec2(eye.x - 0.5, eye.y) + offset.xy * zoom;

    int maxIterations = 200 + int(max(udef[2], 0.0) * 100.0);
    vec2 z = vec2(0.0);
    int i = 0;
    for (; i < maxIterations; i++) {
        z = vec2(z.x * z.x - z.y * z.y, 2.0 * z.x * z.y) + c;
        if (dot(z, z) > 256.0) break;
    }

    if (i >= maxIterations) {
        gl_FragColor = vec4(vec3(0.02, 0.02, 0.05) * (1.0 + udef[3]), 1.0);
        return;
    }
    // Continuous escape count: no bands between iteration steps.
    float smoothCount = float(i) + 1.0 - log2(log2(dot(z, z)) * 0.5);
    vec3 colour = palette(smoothCount * 0.15 * (1.0 + udef[1]) + time);
    gl_FragColor = vec4(colour * (1.0 + udef[3]), 1.0);
}
