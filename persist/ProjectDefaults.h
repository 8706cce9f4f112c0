// The state groups' start-up initialisation and the reset to the defaults
// of a new project: the options file, the default texts beside the program
// and the first flight record.
#pragma once

namespace vortigo {

// Start-up initialisation: reads the options, allocates and zeroes the fixed
// buffers and applies the reset. False when an allocation fails.
bool initialiseProjectState();

// Reset to defaults of a new project. User-interface thread, render thread
// idle; the caller raises compileRequest and resizeRequest afterwards, and
// the window layer shows the new project's first text.
void resetToDefaults();

} // namespace vortigo
