// Stills larger than one frame: the picture is cut into a grid of tiles,
// each drawn as an ordinary frame of the pipeline with the whole picture's
// camera and time. Each frame reaches past its tile by a margin wide enough
// for every filter (super-sampling, despeckle, depth of field), and frames
// at the picture's edges end exactly at those edges, so the cropped tiles
// put together equal the single frame of that size.
//
// Threads: the grid is set before the workers start and cleared after they
// end; the render thread alone takes the tiles, one a frame, in order.
#pragma once

#include <string>

namespace vortigo {

// A rectangle of the picture in pixels, counted from its top-left corner.
struct PixelRect {
    int x = 0, y = 0, width = 0, height = 0;
};

// What the enabled filters need around a tile, and the multiple that frame
// places and sizes keep so that depth-of-field mipmaps line up with the
// whole picture's.
struct FilterReach {
    int margin = 0;
    int align = 1;
};

// Depth of field samples mipmap levels up to |(depth - offset) x scale| for
// depths 0 to 1, and no level beyond the picture's own.
FilterReach filterReach(bool superSample, bool despeckle, bool depthOfField, float dofScale,
                        float dofOffset, int width, int height);

struct TileGrid {
    int pictureWidth = 0, pictureHeight = 0;
    int tileSize = 0; // a multiple of the reach's alignment
    int margin = 0;
    int frameWidth = 0, frameHeight = 0; // every tile's frame has this size
    int columns = 0, rows = 0;
    int count() const { return columns * rows; }
    // Tiles go row by row from the top, left to right in a row.
    PixelRect tile(int index) const;
    // The frame drawn for that tile: it holds the tile and, inside the
    // picture, the margin on every side.
    PixelRect frame(int index) const;
};

// Plans the grid for a tile size of at least 1; the frames never exceed
// the picture.
TileGrid planTiles(int width, int height, int tileSize, const FilterReach& reach);

// The frame drawn now, in the GL's terms (pixels from the bottom-left).
struct TilePlacement {
    bool active = false;
    int pictureWidth = 0, pictureHeight = 0;
    int x = 0, y = 0, width = 0, height = 0;
};

// Any thread while the workers are stopped: frames from now on draw the
// grid's tiles in order from `firstTile`; null draws whole frames again.
void setTiledDrawing(const TileGrid* grid, int firstTile = 0);
bool tiledDrawing();
// The grid set (meaningful while tiled drawing is on).
const TileGrid& currentTileGrid();

// Render thread: the next frame's pass 0 takes the next tile; its
// super-sampling pass repeats it.
TilePlacement takeNextTile();
TilePlacement currentTilePlacement();

// Pictures within the driver's viewport are drawn on it, shifted; larger
// ones place their tiles through the tile uniforms. Tests lower the side up
// to which the shift is used (0 restores the driver's limit) to reach the
// second way with small pictures.
void setShiftedViewportLimit(int side);
int shiftedViewportLimit();

// The driver's largest viewport (the largest frame it can draw), found
// through a context of its own; 0 when none can be made.
struct DriverLimits {
    int viewportWidth = 0, viewportHeight = 0;
};
DriverLimits queryDriverLimits();

// The studio cannot make a context of its own while the render thread
// draws (ending it would end the display the render thread shares): the
// render thread notes the limits of its context when it makes it, any
// thread reads them (0 before that).
void noteDriverLimits();
DriverLimits notedDriverLimits();

} // namespace vortigo
