// Qt keys translated to the virtual-key codes (platform/VirtualKeys.h) the
// studio, its key table and the animation script use on every platform.
#pragma once

namespace vortigo {

// 0 when the key has no virtual-key code.
int virtualKeyFromQt(int qtKey);
// 0 when the code stands for no Qt key.
int qtKeyFromVirtualKey(int virtualKey);

} // namespace vortigo
