// Drawing one frame on the render thread: the layer walk the script steers,
// the per-layer uniforms and requests, the depth-of-field pass, and the
// read-back into a frame buffer of blue-green-red rows (bytes, or words in
// deep frames), bottom row first, without padding.
//
// Threads: render thread only, with the context current.
#pragma once

#include <cstdint>

namespace vortigo {

// Draws pass 0 (normal) or pass 1 (super-sampling) of the current frame into
// `destination` (the frame queue's width x height x 3 samples); nothing when
// null.
void drawFrame(int pass, uint8_t* destination);

// Sizes the read-back staging buffer for width x height frames (the
// frame-buffer allocation calls it, so no frame allocates).
void prepareReadBack(int width, int height);

// Reads the current framebuffer into `destination`. Only the part that lies
// on the drawing surface is read; the rest of the frame is cleared.
void readBackFrame(uint8_t* destination, int width, int height);

// Packs `pixels` four-byte pixels into three bytes each, dropping the
// fourth; writes exactly 3 x pixels bytes. `portable` skips the vector path.
void repackPixels(const uint8_t* bgra, uint8_t* bgr, int pixels, bool portable = false);

// (Re)creates the script's off-screen float target at width x height and
// makes it current; false (window framebuffer current) when incomplete.
bool makeOffscreenTarget(int width, int height);

// Makes the window's own framebuffer current again.
void leaveOffscreenTarget();

// The layer drawn at each step of the last walk (tests and diagnostics).
int lastWalkLength();
const int* lastWalkLayers();

} // namespace vortigo
