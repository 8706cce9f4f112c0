// Qt keys translated to the virtual-key codes the studio, its key table and
// the animation script use on every platform (A-Z 65-90, 0-9 48-57, space
// 32, Esc 27, Enter 13, Shift 16, Ctrl 17, arrows 37-40, F1-F12 112-123...).
#pragma once

namespace vortigo {

// 0 when the key has no virtual-key code.
int virtualKeyFromQt(int qtKey);
// 0 when the code stands for no Qt key.
int qtKeyFromVirtualKey(int virtualKey);

} // namespace vortigo
