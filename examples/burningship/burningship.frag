// Burning Ship: the Mandelbrot iteration with both parts of z made positive
// before squaring, z -> (|Re z| + i |Im z|)^2 + c. The imaginary axis points
// down, so the ship sails upright.
//
// The colours come from the script's data texture (datatex, unit 1): a
// palette of 256 colours that the script rebuilds as the animation time
// runs. eye.xy is the point in the middle of the picture, flying forward
// (eye.z) zooms in, and the camera's roll turns the view. udef[0] shifts the
// colours, udef[1] stretches the bands, udef[2] adds iterations.
uniform ivec2 size;
uniform vec3 eye;
uniform vec4 rot;
uniform float udef[16];
uniform sampler1D datatex;

varying vec2 screen;

vec3 rotate(vec4 q, vec3 v)
{
    vec3 t = 2.0 * cross(q.xyz, v);
    return v + q.w * t + cross(q.xyz, t);
}

void main()
{
    float aspect = float(size.x) / float(size.y);
    float zoom = 1.2 * exp(-(eye.z + 3.0));
    vec3 offset = rotate(rot, vec3(screen.x * aspect, screen.y, 0.0));
    vec2 c = vec2(eye.x - 0.45, -(eye.y + 0.5)) + vec2(offset.x, -offset.y) * zoom;

    int maxIterations = 150 + int(max(udef[2], 0.0) * 100.0);
    vec2 z = vec2(0.0);
    int i = 0;
    for (; i < maxIterations; i++) {
        z = abs(z);
        z = vec2(z.x * z.x - z.y * z.y, 2.0 * z.x * z.y) + c;
        if (dot(z, z) > 256.0) break;
    }
    if (i >= maxIterations) {
        gl_FragColor = vec4(0.0, 0.0, 0.0, 1.0);
        return;
    }
    float smoothCount = float(i) + 1.0 - log2(log2(dot(z, z)) * 0.5);
    float index = fract(smoothCount * 0.02 * (1.0 + udef[1]) + udef[0]);
    gl_FragColor = vec4(texture1D(datatex, index).rgb, 1.0);
}
