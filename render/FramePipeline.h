// The frame buffers' allocation on the render thread, the finishing of each
// handed-over frame on the post-processing thread, and the status line. The
// buffers themselves and their hand-over are the frame queue's
// (core/FrameQueue.h).
#pragma once

#include "core/FrameQueue.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace vortigo {

// Render thread: (re)allocates the frame queue's buffers for imageWidth x
// imageHeight. False when a frame to draw into could not be allocated; then
// the queue is empty and nothing is painted.
bool allocateFrameBuffers();

// Any thread; read by each allocation of the frame buffers: frames from the
// next allocation on are drawn with 16 bits a channel (true) for deep
// stills, or with 8 as always. A deep frame's display is not shown and not
// captured.
void setDeepFrames(bool deep);
bool deepFrames();

// Post-processing thread: takes the oldest handed-over frame, finishes it,
// makes it the display and releases it; nothing when none is filled.
void finishFrame();

// Any thread: called with each finished frame on the post-processing thread
// (batch rendering and tests). The frame is valid only during the call.
using FrameSink = std::function<void(const FrameView&)>;
void setFrameSink(FrameSink sink);

} // namespace vortigo
