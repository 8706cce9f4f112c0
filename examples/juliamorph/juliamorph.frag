// Julia sets morphing with time: z -> z^2 + c for a fixed c, with c walking
// round the cardioid's edge of the Mandelbrot set, where its Julia sets are
// richest: c = e^(i w) / 2 - e^(2 i w) / 4, a little inside. w is the
// animation time, so running the timer (T) or a replayed flight morphs the
// set from dust to dragons to spirals.
//
// eye.xy is the point in the middle of the picture, flying forward (eye.z)
// zooms in, and the camera's roll turns the view. udef[0] shifts the
// colours, udef[1] stretches the bands, udef[2] adds iterations, udef[3]
// moves c further inside (0) or outside the edge.
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

void main()
{
    float aspect = float(size.x) / float(size.y);
    float zoom = 1.4 * exp(-(eye.z + 3.0));
    vec3 offset = rotate(rot, vec3(screen.x * aspect, screen.y, 0.0));
    vec2 z = eye.xy + offset.xy * zoom;

    float w = 0.4 * time + 2.0;
    float edge = 0.98 + udef[3];
    vec2 c = edge * (0.5 * vec2(cos(w), sin(w)) - 0.25 * vec2(cos(2.0 * w), sin(2.0 * w)));

    int maxIterations = 200 + int(max(udef[2], 0.0) * 100.0);
    int i = 0;
    float trap = 1e10;
    for (; i < maxIterations; i++) {
        z = vec2(z.x * z.x - z.y * z.y, 2.0 * z.x * z.y) + c;
        trap = min(trap, abs(z.x * z.y));
        if (dot(z, z) > 256.0) break;
    }
    if (i >= maxIterations) {
        // Inside: shaded by how close the orbit came to the axes.
        gl_FragColor = vec4(vec3(0.1, 0.2, 0.35) + 0.5 * vec3(0.9, 0.6, 0.3) * exp(-12.0 * trap), 1.0);
        return;
    }
    float smoothCount = float(i) + 1.0 - log2(log2(dot(z, z)) * 0.5);
    vec3 colour = 0.5 + 0.5 * cos(6.2831853 * (udef[0] + smoothCount * 0.03 * (1.0 + udef[1]) +
                                                vec3(0.55, 0.6, 0.7)));
    gl_FragColor = vec4(colour, 1.0);
}
