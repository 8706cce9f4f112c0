// The video reader of a layer's AVI background, on FFmpeg: it opens the
// file, selects its video stream and decodes the frame due at each rendered
// frame into the layer's 4-byte pixels, bottom row first.
//
// The four readers live here, one per layer, reached through videoReader():
// the state groups sit below the media library and cannot hold them.
//
// Threads: open on the thread that loads the background (the user-interface
// thread while the render thread rests, or the render thread for a
// script-switched background); nextFrame and close on the render thread.
// No lock: those callers never overlap for the same layer.
#pragma once

#include "platform/Platform.h"

#include <cstdint>
#include <memory>

struct AVIOContext;

namespace vortigo {

// The 40-byte bitmap header of the frames the reader delivers: 24 bits a
// pixel, uncompressed.
struct FrameFormat {
    uint32_t size = 40;
    int32_t width = 0;
    int32_t height = 0;
    uint16_t planes = 1;
    uint16_t bitCount = 24;
    uint32_t compression = 0;
    uint32_t sizeImage = 0;
    int32_t xPelsPerMeter = 0;
    int32_t yPelsPerMeter = 0;
    uint32_t clrUsed = 0;
    uint32_t clrImportant = 0;
};
static_assert(sizeof(FrameFormat) == 40);

class AVIGrab {
  public:
    AVIGrab();
    virtual ~AVIGrab();
    AVIGrab(const AVIGrab&) = delete;
    AVIGrab& operator=(const AVIGrab&) = delete;

    // Closes an open file, then opens `path` and selects the last usable
    // video stream among its first four streams. Failures are reported to
    // `owner` as designed ("AVI Error"); the result is kept in isOpen.
    bool open(WindowId owner, const char* path);

    // As open, reading the file through `io` (kept by the caller, it must
    // outlive the reader's use of it); the fuzz target feeds memory this way.
    bool openStream(WindowId owner, AVIOContext* io);

    // Decodes the frame due by *frameCounter / divisor into targetPixels and
    // advances the counter (wrapping at endFrame). False when the reader
    // cannot deliver a frame; a frame that cannot be decoded closes it.
    bool nextFrame();

    // Releases the decoder, the streams and the file; nothing when closed.
    void close();

    int videoFps = 0; // whole frames per second, 0 when below one
    int endFrame = 0; // stream start + length: where the counter wraps
    int streamIndex = -1;
    int bytesPerPixel = 3;
    int currentFrame = 0;
    int divisor = 1;                 // rendered frames per video frame
    int32_t* frameCounter = nullptr; // the layer's videoFrameCounter
    FrameFormat frameFormat{};       // the frame's size
    uint8_t* targetPixels = nullptr; // width x height x 4 bytes
    char videoPath[260]{};
    WindowId ownerWindow = WindowId::None;
    bool isOpen = false;

  private:
    struct Media;
    bool openInput(WindowId owner, const char* path, AVIOContext* io);
    bool decodeFrame(int64_t index);
    bool receiveUntil(int64_t index);
    void convert();

    std::unique_ptr<Media> m_media;
};

// The reader of layer `layer` (0 to 3). The four are built before main and
// destroyed after it, the fourth first.
AVIGrab& videoReader(int layer);

} // namespace vortigo
