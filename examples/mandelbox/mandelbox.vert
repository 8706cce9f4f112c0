// Passes the full-screen rectangle through and hands the fragment shader its
// place in the picture, -1 to 1 on both axes.
// A poster is drawn in tiles: tile.xy is the tile's centre and tile.zw its
// size in those coordinates (0, 0, 1, 1 for a whole frame).
uniform vec4 tile;
varying vec2 screen;

void main()
{
    gl_Position = gl_Vertex;
    screen = tile.xy + gl_Vertex.xy * tile.zw;
}
