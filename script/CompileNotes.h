// Quiet compiles: a compile the studio starts because a file changed on disk
// must not put a message box in front of the editor the user types in. While
// quiet, the script's and the shaders' compile errors are kept here and
// written to the Debug Output page instead of being shown in a box; the
// go-to-line requests reach the editor as always. F5 and every other compile
// are loud.
//
// Threads: the user-interface thread sets the mode before it raises
// compileRequest and takes the notes; the render thread, which compiles,
// reads the mode and adds the notes.
#pragma once

#include <string>

namespace vortigo {

// User-interface thread: the next compile is quiet (or, false, loud again).
void setQuietCompile(bool quiet);

// Render thread, as a compile starts: takes the request, so only the compile
// it was made for is quiet.
void beginCompile();

// Render thread: when quiet, keeps "caption: text" and writes it to the
// Debug Output page and returns true; when loud, returns false (the caller
// shows its box).
bool noteCompileError(const std::string& caption, const std::string& text);

// The first error kept since the last take, and forgets them all; "" when none.
std::string takeCompileNote();

} // namespace vortigo
