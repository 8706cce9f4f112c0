// The capture writer: every finished frame goes to an AVI file or a series
// of TGA stills while capturing is set.
//
// Threads: start runs on the user-interface thread (key C) or, in batch
// work, on the thread that feeds the frames; captureFrame runs on the
// post-processing thread; finish runs on whichever thread ends the capture,
// never while captureFrame runs (the callers wait for the idle state or are
// the post-processing thread itself). No lock is taken: the capturing flag,
// set only after start returns, hands the writer to the post-processing
// thread.
#pragma once

#include "core/ProjectTypes.h"
#include "media/AviWriter.h"
#include "platform/Platform.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace vortigo {

// Asks the user for the compression of a capture's first file. `choice`
// holds the last choice on entry (to be preselected) and the new one on
// return; false when the user cancelled. Runs on the thread that starts the
// capture and blocks it.
using CompressionChooser = std::function<bool(CompressionChoice& choice)>;
// Installs the chooser (the studio's dialog, or a fixed choice in batch
// work); without one, every capture's first file is refused as cancelled.
void setCompressionChooser(CompressionChooser chooser);

class Capture {
  public:
    Capture();
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;
    // Finishes any capture still running.
    virtual ~Capture();

    // Begins a capture into `outputName` (AVI when its extension is "AVI" in
    // any case, else numbered TGA stills). Nothing happens when fps <= 0.
    // Success shows as isActive(); every failure has been reported.
    void start(WindowId owner, const char* outputName, int width, int height, int fps,
               int frameLimit, const char* audioName);
    // The same at an exact rate (30000/1001); nothing happens for an invalid one.
    void start(WindowId owner, const char* outputName, int width, int height, FrameRate rate,
               int frameLimit, const char* audioName);
    // Writes one frame of width x height x 3 bytes; false ends the capture
    // (the writer has finished itself).
    bool captureFrame(const uint8_t* pixels);
    // Ends the capture: the sound track is added to the last AVI file, the
    // file is completed and the blur buffer freed.
    void finish();

    bool isActive() const { return active.load(std::memory_order_acquire) != 0; }
    // The file the next frame goes to (AVI) or the last still written.
    std::string currentFileName() const;

  private:
    bool openAviFile();
    // Completes the open file; false when none was open or it failed.
    bool releaseStreams();
    bool writeAviFrame();
    bool writeTgaStill();
    void addSoundTrack(const std::string& aviPath);
    void showSystemError(const std::string& text);
    void reportWriteFailure(const char* kind, const std::string& path, const std::string& why);
    std::string aviFileName() const;
    const uint8_t* writtenFrame() const;

    FrameRate rate;
    int frameCount = 0;
    int width = 0, height = 0;
    int maxFrames = 0;
    int fileIndex = 0;
    const uint8_t* frame = nullptr;
    std::unique_ptr<uint8_t[]> blurBuffer;
    char baseName[PATH_SIZE]{};
    std::string audioName; // a copy: the caller's name may not outlive the capture
    WindowId owner = WindowId::None;
    std::atomic<uint8_t> active{0};
    uint8_t isAvi = 0;
    CompressionChoice compressOptions; // also the preselection of the next dialog
    AviVideoFile aviFile;
    CompressionChoice* options = nullptr;
    bool writeFailed = false; // reported once, not again when the file is closed
};

// The one writer of the process.
Capture& theCapture();

// Ends a running capture: capturing is cleared, then the file is completed.
// Nothing more happens when no capture runs.
void finishCapture();

// Post-processing thread: the frame goes to the writer while capturing is
// set. A failed write clears capturing, stops the flight, beeps and asks the
// Trace window to show its status line again.
void captureFinishedFrame(const uint8_t* pixels);

} // namespace vortigo
