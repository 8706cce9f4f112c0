// Newton's method for z^3 = 1: from every starting point z the step
// z -> z - a (z^3 - 1) / (3 z^2) runs towards one of the three cube roots
// of 1. The colour says which root it reached, the brightness how fast; on
// the borders between the basins all three meet, again and again.
//
// eye.xy is the point in the middle of the picture, flying forward (eye.z)
// zooms in, and the camera's roll turns the view. udef[0] shifts the
// colours, udef[1] brightens the slow points, udef[4] is added to the step
// factor a = 1 (the script swings it while the animation time runs: the
// basins curl).
uniform ivec2 size;
uniform vec3 eye;
uniform vec4 rot;
uniform float udef[16];

varying vec2 screen;

vec3 rotate(vec4 q, vec3 v)
{
    vec3 t = 2.0 * cross(q.xyz, v);
    return v + q.w * t + cross(q.xyz, t);
}

vec2 multiply(vec2 a, vec2 b)
{
    return vec2(a.x * b.x - a.y * b.y, a.x * b.y + a.y * b.x);
}

vec2 divide(vec2 a, vec2 b)
{
    return vec2(a.x * b.x + a.y * b.y, a.y * b.x - a.x * b.y) / dot(b, b);
}

void main()
{
    float aspect = float(size.x) / float(size.y);
    float zoom = 1.5 * exp(-(eye.z + 3.0));
    vec3 offset = rotate(rot, vec3(screen.x * aspect, screen.y, 0.0));
    vec2 z = eye.xy + offset.xy * zoom;
    vec2 factor = vec2(1.0 + udef[4], 0.0);

    const vec2 root0 = vec2(1.0, 0.0);
    const vec2 root1 = vec2(-0.5, 0.8660254);
    const vec2 root2 = vec2(-0.5, -0.8660254);
    int i = 0;
    float closest = 1.0;
    int found = -1;
    for (; i < 64; i++) {
        vec2 z2 = multiply(z, z);
        if (dot(z2, z2) < 1e-12) break;
        z -= multiply(factor, divide(multiply(z2, z) - root0, 3.0 * z2));
        float d0 = distance(z, root0), d1 = distance(z, root1), d2 = distance(z, root2);
        closest = min(d0, min(d1, d2));
        if (closest < 1e-3) {
            found = d0 < d1 ? (d0 < d2 ? 0 : 2) : (d1 < d2 ? 1 : 2);
            break;
        }
    }
    if (found < 0) {
        gl_FragColor = vec4(0.05, 0.05, 0.05, 1.0);
        return;
    }
    vec3 hue = 0.5 + 0.5 * cos(6.2831853 * (udef[0] + float(found) / 3.0 + vec3(0.0, 0.33, 0.67)));
    // Continuous speed: the last step's distance to the root refines the count.
    float speed = float(i) - log2(max(-log(closest), 1e-3));
    float shade = 1.0 - clamp(speed / (24.0 * (1.0 + udef[1])), 0.0, 0.9);
    gl_FragColor = vec4(hue * shade, 1.0);
}
