// Capture settings and the capturing flag.
//
// Owner of the settings (output and sound file, frame rate, motion blur,
// frames a file): the user-interface thread (the batch program's main
// thread), written while no capture runs and the render thread rests; the
// capture writer reads them when it opens a file. In debug builds
// captureState() stops a writer on any other thread; captureView() is the
// readers' view.
//
// The capturing flag is shared: the user-interface thread turns it on and
// off, the post-processing thread turns it off when a write fails, the
// render thread reads it for each frame, and the script reads it as word 28
// of FrameInfo. Every access is atomic (release on store, acquire on load),
// through capturing() and setCapturing(), so a frame that sees the flag on
// also sees the open file.
#pragma once

#include "core/ProjectTypes.h"
#include "core/ScriptBlocks.h"

namespace vortigo {

struct CaptureState {
    explicit CaptureState(FrameInfo& frameInfo);
    CaptureState(const CaptureState&) = delete;
    CaptureState& operator=(const CaptureState&) = delete;

    Path outputFile{};
    Path audioFile{};
    int32_t& aviFps; // lives in FrameInfo
    int useMotionBlur = 0;
    int maxAviFrames = 0;

    bool capturing() const;
    void setCapturing(bool on) const;

  private:
    int32_t* m_capturing; // FrameInfo's word 28
};

// The owner's handle; in debug builds any other thread stops here.
CaptureState& captureState();
// Any thread: reading the settings, and the capturing flag either way.
const CaptureState& captureView();

} // namespace vortigo
