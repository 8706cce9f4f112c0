// The guard around every call into the animation script. A processor fault
// raised inside the guard (bad memory access, integer division by zero,
// illegal instruction, abort, stack overflow) abandons the call and comes
// back as the signal number; a fault outside any guard is ours and still
// crashes the process loudly.
//
// Threads: any thread may call runGuarded; each thread keeps its own guard
// and alternate signal stack.
#pragma once

namespace vortigo {

// Runs fn(context). Returns 0 when it ran to its end, else the signal that
// ended it. Between the guard and fn the frames must hold no objects with
// destructors: a fault skips them.
int runGuarded(void (*fn)(void*), void* context);

// True while the calling thread is inside runGuarded.
bool insideGuard();

// Ends the innermost guard of the calling thread as if `signal` had been
// raised inside it; without a guard the process aborts.
[[noreturn]] void raiseScriptFault(int signal);

} // namespace vortigo
