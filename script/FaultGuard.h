// The guard around every call into the animation script. A processor fault
// raised inside the guard (bad memory access, integer division by zero,
// illegal instruction, abort, stack overflow) abandons the call and comes
// back as the signal number; a fault outside any guard is ours and still
// crashes the process loudly. A fault signal sent with kill() (by a script
// or anyone else) is no fault of any thread and is ignored.
//
// Threads: any thread may call runGuarded; each thread keeps its own guard
// and alternate signal stack.
#pragma once

namespace vortigo {

// What runGuarded returns when the watchdog interrupted the call.
constexpr int GUARD_TIMED_OUT = -1;

// Runs fn(context). Returns 0 when it ran to its end, else the signal that
// ended it, or GUARD_TIMED_OUT when it ran past `limitSeconds` (0: no
// limit). Between the guard and fn the frames must hold no objects with
// destructors: a fault skips them.
int runGuarded(void (*fn)(void*), void* context, int limitSeconds = 0);

// True for the signals the guard and the watchdog rely on: a script may
// neither handle, ignore nor block them.
bool isGuardSignal(int signal);

// True while the calling thread is inside runGuarded.
bool insideGuard();

// Ends the innermost guard of the calling thread as if `signal` had been
// raised inside it; without a guard the process aborts.
[[noreturn]] void raiseScriptFault(int signal);

// Host functions the script calls bracket their work with these: the
// watchdog never interrupts host code (it could leave a lock of the host or
// the driver held); a time-out that falls due inside takes effect when
// leaveHostCode runs. Nothing with a destructor may be alive at leaveHostCode.
void enterHostCode();
void leaveHostCode();

} // namespace vortigo
