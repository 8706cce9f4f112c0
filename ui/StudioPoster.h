// A poster of the studio's current frame: the render thread draws it tile
// by tile (render/Tiles.h) with the camera and time held, the
// post-processing thread streams the tiles into the picture, and the
// user-interface thread releases one tile at a time from its event loop, so
// the windows stay responsive. Afterwards the studio's own frame size comes
// back and the render thread draws one frame of it.
//
// Threads: user-interface thread, except the frame sink it installs.
#pragma once

#include "render/Poster.h"

#include <QObject>
#include <QTimer>
#include <atomic>
#include <memory>
#include <string>

namespace vortigo {

struct PosterRequest {
    int width = 0, height = 0;
    int tileSize = DEFAULT_POSTER_TILE;
    std::string out; // NAME.png, NAME.tif or NAME.exr
    // 16 bits a channel (always for .exr).
    bool deep = false;
};

// "" when the request may be rendered, else why not: a side outside 1 to
// 1,000,000 pixels, a name that is not PNG, TIFF or EXR, a PNG too large
// for PNG readers, or too little free disk space (both numbers).
std::string checkPosterRequest(const PosterRequest& request);

// True for a PNG request larger than PNG readers take: ask for TIFF.
bool posterNeedsTiff(const PosterRequest& request);

// A poster is being rendered: commands that would change what its tiles
// read (a reload's compile) wait.
bool studioPosterRunning();

class StudioPoster : public QObject {
    Q_OBJECT
  public:
    explicit StudioPoster(QObject* parent = nullptr);
    ~StudioPoster() override;
    StudioPoster(const StudioPoster&) = delete;
    StudioPoster& operator=(const StudioPoster&) = delete;

    // Starts while the render thread rests with the script compiled; false
    // with `error` when it cannot start (nothing is changed then). `note`
    // says what was adjusted (a tile size lowered to the driver's limit).
    bool start(const PosterRequest& request, std::string& error, std::string& note);
    // The tile being drawn is finished, no further one is drawn, and the
    // temporary file is removed; ended() follows.
    void cancel();
    bool running() const { return m_running; }
    int total() const { return m_grid.count(); }

  signals:
    void progress(int done, int total);
    // ok: the picture is stored under its name; else `message` says why
    // not (empty after a cancel).
    void ended(bool ok, const QString& message);

  private:
    void step();
    void finish();

    QTimer m_timer;
    TileGrid m_grid;
    std::unique_ptr<BandAssembler> m_assembler;
    int m_savedWidth = 0, m_savedHeight = 0;
    int m_released = 0; // tiles the render thread was let draw
    bool m_running = false;
    bool m_cancelled = false;
    std::atomic<int> m_stored{0}; // written by the post-processing thread
    std::atomic<bool> m_storeFailed{false};
    std::string m_storeError; // post-processing thread until the run ends
    uint64_t m_faultsAtStart = 0;
};

} // namespace vortigo
