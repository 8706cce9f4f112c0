// The script's debug line and the rolling Debug Output text it feeds.
//
// Threads: the render thread and the post-processing thread both call into
// the script and both flush; flushes are serialised so their texts never
// interleave inside debugText.
#pragma once

#include <string>

namespace vortigo {

// Appends `text` to the NUL-terminated `log` of `capacity` bytes. When the
// two would not fit, the oldest characters are dropped first (the text's
// length plus two). False when either is null or the text alone does not fit.
bool appendToLog(char* log, const char* text, int capacity);

// Moves a non-empty debug line (scratchLine) to the end of debugText and
// empties it.
void flushDebugLine();

// Empties the debug line before a call into the script.
void clearDebugLine();

// debugText as it stands, read under the lock the appends take.
std::string debugTextCopy();

// Appends a note of the host's own to debugText at once.
void appendDebugText(const char* text);

} // namespace vortigo
