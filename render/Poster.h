// Posters: one still of any size, drawn in tiles (render/Tiles.h) through
// the headless session and streamed to a PNG, BigTIFF or (deep) OpenEXR
// file one band of tile rows at a time, so memory stays near a band (tile
// size x picture width x 3 samples) whatever the height. A range of tiles can instead go to
// files of their own (NAME.tileNNNNN.ppm beside NAME), which joinTiles puts
// together: a render farm shares one poster.
//
// Threads: call from one thread (it plays the user-interface thread).
#pragma once

#include "render/HeadlessSession.h"
#include "render/Tiles.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vortigo {

class PictureStream;

constexpr int DEFAULT_POSTER_TILE = 2048;
constexpr int MAX_POSTER_SIDE = 1000000;

struct PosterRun {
    // The session: its configure loads the project and sets imageWidth and
    // imageHeight to the poster's size; frames, onFrame and holdCamera are
    // the poster's own.
    HeadlessRun session;
    int tileSize = DEFAULT_POSTER_TILE;
    // NAME.png, NAME.tif or (with session.deep) NAME.exr: the picture;
    // with a range, the tile files' common stem.
    std::string out;
    int firstTile = 0;
    int lastTile = -1; // -1: every tile, into the picture
    // Post-processing thread: after each tile is stored.
    std::function<void(int done, int total)> progress;
    // User-interface thread, before the first tile: what was adjusted (a
    // tile size lowered to the driver's limit).
    std::function<void(const std::string&)> note;
};

struct PosterResult {
    bool ok = false;
    bool stopped = false;
    std::string error;
    TileGrid grid;
    int tilesStored = 0;
};

PosterResult renderPoster(const PosterRun& run);

// Collects the tiles of one row of the grid, in order, and hands the row to
// the picture when its last tile is in (renderPoster and the studio's
// poster). Destroyed before finish(), it removes the temporary file.
class BandAssembler {
  public:
    // Frames of `sampleBytes` a sample (2: deep), which the stream takes.
    BandAssembler(const TileGrid& grid, std::unique_ptr<PictureStream> stream, int sampleBytes = 1);
    ~BandAssembler();
    BandAssembler(const BandAssembler&) = delete;
    BandAssembler& operator=(const BandAssembler&) = delete;
    bool add(const FrameView& frame, int index, std::string& error);
    bool finish(std::string& error);

  private:
    TileGrid m_grid;
    std::unique_ptr<PictureStream> m_stream;
    int m_pixelBytes;
    std::vector<uint8_t> m_band;
};

// The file of tile `index` of a range render of `out`.
std::string tileFileName(const std::string& out, int index);

// Puts the tile files of a width x height poster together into `out`
// (PNG, TIFF, or OpenEXR from deep tiles); the grid and the depth are read
// from the first tile. False with `error`
// naming the missing or mismatched tile; `out` is then not written.
bool joinTiles(const std::string& out, int width, int height, std::string& error);

// "" when the folder of `out` has room for a picture of width x height
// pixels of `bytesPerPixel` (uncompressed, the most it can take), else a
// message with both numbers.
std::string checkPosterSpace(const std::string& out, int width, int height, int bytesPerPixel);

} // namespace vortigo
