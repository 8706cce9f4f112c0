// The status line the Trace window shows in its title: camera, animation
// time, capture state and the last frame's milliseconds.
#pragma once

#include "platform/Platform.h"

#include <string>

namespace vortigo {

std::string statusLineText();
void updateStatusLine(WindowId window);

} // namespace vortigo
