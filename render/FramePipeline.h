// The frame buffers and their hand-over: allocation on the render thread,
// and the finishing of each handed-over frame on the post-processing thread.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace vortigo {

// Render thread: (re)allocates frameRing, zBuffer and extraFrame for
// imageWidth x imageHeight. False when a ring entry could not be allocated;
// then no buffer field refers to released memory and nothing is painted.
bool allocateFrameBuffers();

// Post-processing thread: finishes shownFrame (steps between the hand-over
// and clearing frameReady, which the caller does).
void finishFrame();

// A finished frame as the Trace window paints it: bottom-up rows of 3 bytes.
struct FrameView {
    const uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
};

// Any thread: called with each finished frame on the post-processing thread
// (batch rendering and tests). The frame is valid only during the call.
using FrameSink = std::function<void(const FrameView&)>;
void setFrameSink(FrameSink sink);

// Held while the frame buffers are swapped by an allocation and while the
// Trace window copies shownFrame for painting; never across GL or script calls.
std::mutex& frameBufferMutex();

// User-interface thread (under frameBufferMutex): the frame to paint, a copy
// of the last finished frame; empty until a frame was finished after the
// last allocation.
FrameView shownFrameView();

} // namespace vortigo
