// The capture writer: every finished frame goes to an AVI file or a series
// of TGA stills while capturing is set.
#pragma once

namespace vortigo {

// Ends a running capture: the file is completed and capturing cleared.
// Nothing happens when no capture runs.
void finishCapture();

} // namespace vortigo
