// The six guarded calls into the animation script with their fault
// reactions, and the layer walk the script steers with layerSkip.
//
// Threads: udSetup, udShutdown (at a compile), udPre, udPost and udResize on
// the render thread; udPostFrame on the post-processing thread; udShutdown
// at exit on the user-interface thread after the workers have stopped.
#pragma once

#include <cstdint>

namespace vortigo {

enum class ShutdownReason { Compile, Exit };

// The opaque handle of the Trace window that udSetup receives.
void* traceWindowHandle();

// False when udSetup faulted (the message has been shown).
bool callUdSetup();
void callUdShutdown(ShutdownReason reason);

// Copies the camera into the snapshot, sets bgWidth, bgHeight, layer and
// pass, calls udPre with the layer's background and the flight ring, copies
// the snapshot back (also after a fault) and flushes the debug line.
void callUdPre(int layerIndex, int pass);
void callUdPost(int layerIndex);
void callUdPostFrame(uint8_t* frame);
void callUdResize();

// A request udPre left (dataTex, volTex) pointed at memory the host could not
// read: udPre's fault reaction.
void reactToRequestFault(int fault);

// Any thread: how many faults of the script were reported so far; a run
// whose frames must all be drawn whole (a poster's tiles) compares it.
uint64_t scriptFaultsReported();

// Clears the per-layer requests (FrameInfo words 8 to 19).
void clearLayerRequests();

// A frame walks at most this many layer steps, however the script steers.
constexpr int MAX_LAYER_STEPS = 1001;

// The layer drawn after `layerIndex` when the script asks to skip
// `layerSkip` layers; -1 ends the frame's passes (an index of 4 or more, or
// one below 0).
int nextLayerIndex(int layerIndex, int32_t layerSkip);

} // namespace vortigo
