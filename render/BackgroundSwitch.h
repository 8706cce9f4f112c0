// The script's SwitchBackground: loads a new background for a layer from
// inside a script callback.
//
// Threads: the render thread, between layer draws (the script calls it from
// udSetup, udPre, udPost or udResize).
#pragma once

namespace vortigo {

// Copies `fileName` into layer `layer`'s backgroundFile and loads it under
// the fault guard; the result becomes the layer's backgroundChanged, so the
// new picture is uploaded when the layer is next drawn. -1 for a null name,
// a name of 260 bytes or more, a layer outside 0 to 3, or a thread without
// the GL context (udPostFrame); otherwise 0, whether the file loaded or not.
// A picture refused for its size is reported on the debug page
// ("SwitchBackground: Could not load the background ...").
int switchBackground(const char* fileName, int layer);

} // namespace vortigo
