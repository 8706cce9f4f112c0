#pragma once

namespace vortigo {

// Start-up, the message loop and its return code.
int runStudio(int argc, char** argv);

// The exit path, run once when the main window is destroyed: stops the
// workers, frees the buffers and ends the message loop with code 0.
void shutDownStudio();

} // namespace vortigo
