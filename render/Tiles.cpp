#include "render/Tiles.h"

#include "render/GlContext.h"

#include <algorithm>
#include <atomic>
#include <cmath>

namespace vortigo {
namespace {

// Super-sampling moves colours by a row and reads the next row and column;
// despeckle reads one pixel around. Eight pixels hold both with room.
constexpr int FILTER_MARGIN = 8;

TileGrid g_grid;
bool g_tiled = false;
int g_nextTile = 0; // render thread while tiled
TilePlacement g_placement;
int g_shiftLimit = 0; // 0: the driver's viewport alone decides

int roundUp(int value, int multiple) {
    return (value + multiple - 1) / multiple * multiple;
}

} // namespace

FilterReach filterReach(bool superSample, bool despeckle, bool depthOfField, float dofScale,
                        float dofOffset, int width, int height) {
    FilterReach reach;
    if (superSample || despeckle) reach.margin = FILTER_MARGIN;
    if (!depthOfField) return reach;
    // The deepest level sampled, capped by the picture's own last level.
    const double deepest =
        std::max(std::fabs(static_cast<double>(dofOffset)), std::fabs(1.0 - dofOffset)) *
        std::fabs(static_cast<double>(dofScale));
    const int pictureLevels =
        static_cast<int>(std::floor(std::log2(std::max(std::max(width, height), 1))));
    const int level = std::clamp(static_cast<int>(std::ceil(std::min(deepest, 64.0))), 0,
                                 std::min(pictureLevels, 20));
    reach.align = 1 << level;
    // A trilinear fetch at that level reads a texel beyond the one it is in.
    reach.margin = roundUp(2 * reach.align + FILTER_MARGIN, reach.align);
    return reach;
}

TileGrid planTiles(int width, int height, int tileSize, const FilterReach& reach) {
    TileGrid g;
    g.pictureWidth = std::max(width, 1);
    g.pictureHeight = std::max(height, 1);
    const int align = std::max(reach.align, 1);
    // No tile larger than the picture: the sums below stay within an int.
    const int side = std::max(g.pictureWidth, g.pictureHeight);
    g.tileSize = std::max(align, std::clamp(tileSize, 1, side) / align * align);
    g.margin = roundUp(std::max(reach.margin, 0), align);
    g.columns = (g.pictureWidth + g.tileSize - 1) / g.tileSize;
    g.rows = (g.pictureHeight + g.tileSize - 1) / g.tileSize;
    const int64_t span = static_cast<int64_t>(g.tileSize) + 2 * static_cast<int64_t>(g.margin);
    g.frameWidth = static_cast<int>(std::min<int64_t>(g.pictureWidth, span));
    g.frameHeight = static_cast<int>(std::min<int64_t>(g.pictureHeight, span));
    return g;
}

PixelRect TileGrid::tile(int index) const {
    PixelRect r;
    const int column = index % columns, row = index / columns;
    r.x = column * tileSize;
    r.y = row * tileSize;
    r.width = std::min(tileSize, pictureWidth - r.x);
    r.height = std::min(tileSize, pictureHeight - r.y);
    return r;
}

PixelRect TileGrid::frame(int index) const {
    const PixelRect t = tile(index);
    PixelRect r;
    r.width = frameWidth;
    r.height = frameHeight;
    r.x = std::clamp(t.x - margin, 0, pictureWidth - frameWidth);
    r.y = std::clamp(t.y - margin, 0, pictureHeight - frameHeight);
    return r;
}

void setTiledDrawing(const TileGrid* grid, int firstTile) {
    g_tiled = grid != nullptr;
    g_grid = grid ? *grid : TileGrid{};
    g_nextTile = std::max(firstTile, 0);
    g_placement = TilePlacement{};
}

bool tiledDrawing() {
    return g_tiled;
}

const TileGrid& currentTileGrid() {
    return g_grid;
}

TilePlacement takeNextTile() {
    if (!g_tiled || g_grid.count() <= 0) return g_placement = TilePlacement{};
    // More frames than tiles (a frame drawn while the run ends) repeat the last.
    const int index = std::min(g_nextTile, g_grid.count() - 1);
    ++g_nextTile;
    const PixelRect f = g_grid.frame(index);
    g_placement.active = true;
    g_placement.pictureWidth = g_grid.pictureWidth;
    g_placement.pictureHeight = g_grid.pictureHeight;
    g_placement.x = f.x;
    g_placement.y = g_grid.pictureHeight - f.y - f.height;
    g_placement.width = f.width;
    g_placement.height = f.height;
    return g_placement;
}

TilePlacement currentTilePlacement() {
    return g_tiled ? g_placement : TilePlacement{};
}

void setShiftedViewportLimit(int side) {
    g_shiftLimit = std::max(side, 0);
}

int shiftedViewportLimit() {
    return g_shiftLimit;
}

DriverLimits queryDriverLimits() {
    DriverLimits limits;
    GlState probe;
    if (!createGlContext(probe, 16, 16, WindowId::None)) {
        releaseGlContext(probe);
        return limits;
    }
    GLint largest[2] = {0, 0};
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, largest);
    limits.viewportWidth = largest[0];
    limits.viewportHeight = largest[1];
    releaseGlContext(probe);
    return limits;
}

namespace {
std::atomic<int> g_notedWidth{0}, g_notedHeight{0};
} // namespace

void noteDriverLimits() {
    GLint largest[2] = {0, 0};
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, largest);
    g_notedWidth = largest[0];
    g_notedHeight = largest[1];
}

DriverLimits notedDriverLimits() {
    return DriverLimits{g_notedWidth.load(), g_notedHeight.load()};
}

} // namespace vortigo
