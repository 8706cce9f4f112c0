#include "media/Capture.h"

#include "core/ProjectState.h"

namespace vortigo {

void finishCapture() { state().capturing = 0; }

} // namespace vortigo
