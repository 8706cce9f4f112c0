// The frame buffers and the run-control flags, the part of the process-wide
// record that the groups (core/ProjectFiles.h, core/CameraFlight.h,
// core/CaptureState.h, core/ScriptShared.h, core/ViewFlags.h and the window
// layer's EditorState) do not hold. It is reached through `state()`.
#pragma once

#include "core/GuardedBlock.h"
#include "core/ProjectTypes.h"
#include "core/RunFlags.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace vortigo {

struct ProjectState {
    ProjectState() = default;
    ProjectState(const ProjectState&) = delete;
    ProjectState& operator=(const ProjectState&) = delete;

    // ---- Render thread ---------------------------------------------------
    // Frame buffers: imageWidth x imageHeight pixels of 3 bytes (blue, green,
    // red), bottom row first, rows not padded. Only the frame-buffer
    // allocation (render thread, post-processing idle, under
    // frameBufferMutex) allocates or frees them. renderTarget and ringIndex
    // belong to the render thread; the frame behind shownFrame belongs to
    // whichever side frameReady says. Before it lets a frame go, the
    // post-processing thread trades that frame's buffer (a ring entry or
    // extraFrame) for the Trace window's display buffer, under
    // frameBufferMutex. The buffers trade places, and udPostFrame is lent
    // whichever is a ring entry at the time, so all of them are guarded.
    GuardedBytes frameRing[2];
    int ringIndex = 0;
    uint8_t* renderTarget = nullptr;
    GuardedBytes extraFrame;
    std::unique_ptr<float[]> zBuffer;
    int frameBytes = 0; // size in bytes of each allocated frame buffer, 0 when none
    int frameWidth = 0, frameHeight = 0; // size the buffers were allocated for
    int64_t lastFrameTick = 0;

    // ---- Atomics: any thread ---------------------------------------------
    std::atomic<uint8_t*> shownFrame{nullptr}; // render thread hands over, post-processing may swap
    std::atomic<int> frameMs{0};               // render thread

    // Run-control flags (release/acquire).
    RunFlag renderRun, renderHold, frameReady, compileRequest, runAfterCompile, scriptReady,
        resizeRequest, buffersReady, postQuit;
};

ProjectState& state();

// Frees every buffer of the record and the groups (the end of the exit path).
void releaseProjectBuffers();

} // namespace vortigo
