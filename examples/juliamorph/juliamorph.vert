// Passes the full-screen rectangle through and hands the fragment shader its
// place in the picture, -1 to 1 on both axes.
varying vec2 screen;

void main()
{
    gl_Position = gl_Vertex;
    screen = gl_Vertex.xy;
}
