// The C library functions the host answers itself for the script, because
// their real versions would take the studio down with the script: the
// signal functions (the guard's fault signals and the watchdog's signal are
// the host's alone: a script may neither handle, ignore nor block them) and
// every way of starting a process, which the script is refused.
//
// Threads: the wrappers run on any thread that runs script code;
// restoreScriptSignalHandlers on the thread that unloads the script, while
// no entry point runs.
#pragma once

struct TCCState;

namespace vortigo {

// Adds the signal and process wrappers under their C names.
void registerSystemWrappers(TCCState* compiler);

// Puts back every signal action the script changed, as it was before the
// script's first change: no handler outlives the code it points into.
void restoreScriptSignalHandlers();

} // namespace vortigo
