#include "script/SystemWrappers.h"

#include "platform/Platform.h"
#include "script/DebugLog.h"
#include "script/FaultGuard.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <libtcc.h>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/select.h>
#include <ucontext.h>
#include <unistd.h>

namespace vortigo {
namespace {

using Handler = void (*)(int);

// ---- Signals ---------------------------------------------------------------

// The action of each signal before the script's first change to it.
std::mutex& g_savedMutex = *new std::mutex;
struct sigaction g_savedActions[NSIG];
bool g_hasSaved[NSIG];

void saveActionBeforeChange(int signal) {
    if (signal <= 0 || signal >= NSIG) return;
    enterHostCode();
    {
        std::lock_guard lock(g_savedMutex);
        if (!g_hasSaved[signal])
            g_hasSaved[signal] = sigaction(signal, nullptr, &g_savedActions[signal]) == 0;
    }
    leaveHostCode();
}

// The script's masks lose the guard's signals silently, as the kernel
// drops SIGKILL and SIGSTOP from a mask: "block everything" still works.
// The copy is made before anything else, so a bad pointer faults in the
// script's guard.
const sigset_t* withoutGuardSignals(const sigset_t* mask, sigset_t& copy) {
    if (!mask) return nullptr;
    std::memcpy(&copy, mask, sizeof copy);
    for (int signal = 1; signal < NSIG; ++signal)
        if (isGuardSignal(signal)) sigdelset(&copy, signal);
    return &copy;
}

Handler scriptSignal(int signal, Handler handler) {
    if (isGuardSignal(signal)) {
        errno = EINVAL;
        return SIG_ERR;
    }
    saveActionBeforeChange(signal);
    return ::signal(signal, handler);
}

int scriptSigaction(int signal, const struct sigaction* action, struct sigaction* previous) {
    if (!action) return sigaction(signal, nullptr, previous);
    struct sigaction copy;
    std::memcpy(&copy, action, sizeof copy);
    if (isGuardSignal(signal)) {
        errno = EINVAL;
        return -1;
    }
    sigset_t mask;
    withoutGuardSignals(&copy.sa_mask, mask);
    copy.sa_mask = mask;
    saveActionBeforeChange(signal);
    return sigaction(signal, &copy, previous);
}

int scriptSigignore(int signal) {
    if (isGuardSignal(signal)) {
        errno = EINVAL;
        return -1;
    }
    saveActionBeforeChange(signal);
    return ::signal(signal, SIG_IGN) == SIG_ERR ? -1 : 0;
}

int scriptSighold(int signal) {
    if (isGuardSignal(signal)) {
        errno = EINVAL;
        return -1;
    }
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, signal);
    return sigprocmask(SIG_BLOCK, &one, nullptr); // NOLINT(concurrency-mt-unsafe): as sighold does
}

int scriptSigprocmask(int how, const sigset_t* mask, sigset_t* previous) {
    sigset_t copy;
    // NOLINTNEXTLINE(concurrency-mt-unsafe): the script's own call, passed on
    return sigprocmask(how, withoutGuardSignals(mask, copy), previous);
}

int scriptPthreadSigmask(int how, const sigset_t* mask, sigset_t* previous) {
    sigset_t copy;
    return pthread_sigmask(how, withoutGuardSignals(mask, copy), previous);
}

// The old BSD masks: one bit for each of the first 32 signals.
int bsdMask(int how, int requested) {
    const auto bits = static_cast<unsigned>(requested);
    sigset_t mask;
    sigemptyset(&mask);
    for (int signal = 1; signal <= 32; ++signal)
        if (bits & (1u << (signal - 1))) sigaddset(&mask, signal);
    sigset_t copy;
    sigset_t previous;
    // NOLINTNEXTLINE(concurrency-mt-unsafe): as sigsetmask and sigblock do
    if (sigprocmask(how, withoutGuardSignals(&mask, copy), &previous) != 0) return -1;
    unsigned result = 0;
    for (int signal = 1; signal <= 32; ++signal)
        if (sigismember(&previous, signal) == 1) result |= 1u << (signal - 1);
    return static_cast<int>(result);
}

int scriptSigblock(int bits) {
    return bsdMask(SIG_BLOCK, bits);
}

int scriptSigsetmask(int bits) {
    return bsdMask(SIG_SETMASK, bits);
}

// A context carries a mask of its own, restored when the script switches to
// it; the script's context loses the guard's signals in place.
void dropGuardSignals(const ucontext_t* context) {
    auto* writable = const_cast<ucontext_t*>(context);
    for (int signal = 1; signal < NSIG; ++signal)
        if (isGuardSignal(signal)) sigdelset(&writable->uc_sigmask, signal);
}

int scriptSetcontext(const ucontext_t* context) {
    dropGuardSignals(context);
    return setcontext(context);
}

int scriptSwapcontext(ucontext_t* save, const ucontext_t* context) {
    dropGuardSignals(context);
    return swapcontext(save, context);
}

// The alternate stack is where the guard catches a runaway recursion.
int scriptSigaltstack(const stack_t* stack, stack_t* previous) {
    if (stack) {
        errno = EPERM;
        return -1;
    }
    return sigaltstack(nullptr, previous);
}

// The waits that take a mask of their own, or take signals off the queue,
// must not hold back or swallow the watchdog's interruption either.
int scriptSigsuspend(const sigset_t* mask) {
    sigset_t copy;
    // NOLINTNEXTLINE(concurrency-mt-unsafe): the script's own call, passed on
    return sigsuspend(withoutGuardSignals(mask, copy));
}

int scriptSigwait(const sigset_t* set, int* signal) {
    sigset_t copy;
    return sigwait(withoutGuardSignals(set, copy), signal);
}

int scriptSigwaitinfo(const sigset_t* set, siginfo_t* info) {
    sigset_t copy;
    return sigwaitinfo(withoutGuardSignals(set, copy), info);
}

int scriptSigtimedwait(const sigset_t* set, siginfo_t* info, const timespec* timeout) {
    sigset_t copy;
    return sigtimedwait(withoutGuardSignals(set, copy), info, timeout);
}

int scriptPpoll(pollfd* fds, nfds_t count, const timespec* timeout, const sigset_t* mask) {
    sigset_t copy;
    return ppoll(fds, count, timeout, withoutGuardSignals(mask, copy));
}

int scriptPselect(int count, fd_set* read, fd_set* write, fd_set* error, const timespec* timeout,
                  const sigset_t* mask) {
    sigset_t copy;
    return pselect(count, read, write, error, timeout, withoutGuardSignals(mask, copy));
}

int scriptEpollPwait(int epoll, epoll_event* events, int count, int timeoutMs,
                     const sigset_t* mask) {
    sigset_t copy;
    return epoll_pwait(epoll, events, count, timeoutMs, withoutGuardSignals(mask, copy));
}

// ---- Processes -------------------------------------------------------------
// A child of the studio would share its pipes (a batch render's standard
// output never ends while it lives) and run a copy of its threads' state;
// a successful exec would replace the studio. The script is refused, and
// the Debug Output page says so.

void refuse(const char* name) {
    char line[128];
    std::snprintf(line, sizeof line, "%s() refused: a script cannot start processes.\r\n", name);
    enterHostCode();
    appendDebugText(line);
    leaveHostCode();
    errno = EPERM;
}

pid_t scriptFork() {
    refuse("fork");
    return -1;
}
pid_t scriptVfork() {
    refuse("vfork");
    return -1;
}
pid_t scriptUnderscoreFork() {
    refuse("_Fork");
    return -1;
}
int scriptClone(int (*)(void*), void*, int, void*, ...) {
    refuse("clone");
    return -1;
}
int scriptDaemon(int, int) {
    refuse("daemon");
    return -1;
}
int scriptSystem(const char* command) {
    if (!command) return 0; // no shell to be had
    refuse("system");
    return -1;
}
FILE* scriptPopen(const char*, const char*) {
    refuse("popen");
    return nullptr;
}
int scriptExecl(const char*, const char*, ...) {
    refuse("execl");
    return -1;
}
int scriptExeclp(const char*, const char*, ...) {
    refuse("execlp");
    return -1;
}
int scriptExecle(const char*, const char*, ...) {
    refuse("execle");
    return -1;
}
int scriptExecv(const char*, char* const*) {
    refuse("execv");
    return -1;
}
int scriptExecvp(const char*, char* const*) {
    refuse("execvp");
    return -1;
}
int scriptExecvpe(const char*, char* const*, char* const*) {
    refuse("execvpe");
    return -1;
}
int scriptExecve(const char*, char* const*, char* const*) {
    refuse("execve");
    return -1;
}
int scriptFexecve(int, char* const*, char* const*) {
    refuse("fexecve");
    return -1;
}
int scriptPosixSpawn(pid_t*, const char*, const void*, const void*, char* const*, char* const*) {
    refuse("posix_spawn");
    return EPERM;
}
int scriptPosixSpawnp(pid_t*, const char*, const void*, const void*, char* const*, char* const*) {
    refuse("posix_spawnp");
    return EPERM;
}

void add(TCCState* compiler, const char* name, const void* function) {
    tcc_add_symbol(compiler, name, function);
}

template <typename F> const void* address(F* function) {
    return reinterpret_cast<const void*>(function);
}

} // namespace

void registerSystemWrappers(TCCState* compiler) {
    for (const char* name : {"signal", "sigset", "bsd_signal", "sysv_signal", "__sysv_signal"})
        add(compiler, name, address(&scriptSignal));
    add(compiler, "sigaction", address(&scriptSigaction));
    add(compiler, "sigignore", address(&scriptSigignore));
    add(compiler, "sighold", address(&scriptSighold));
    add(compiler, "sigprocmask", address(&scriptSigprocmask));
    add(compiler, "pthread_sigmask", address(&scriptPthreadSigmask));
    add(compiler, "sigblock", address(&scriptSigblock));
    add(compiler, "sigsetmask", address(&scriptSigsetmask));
    add(compiler, "setcontext", address(&scriptSetcontext));
    add(compiler, "swapcontext", address(&scriptSwapcontext));
    add(compiler, "sigaltstack", address(&scriptSigaltstack));
    add(compiler, "sigsuspend", address(&scriptSigsuspend));
    add(compiler, "sigwait", address(&scriptSigwait));
    add(compiler, "sigwaitinfo", address(&scriptSigwaitinfo));
    add(compiler, "sigtimedwait", address(&scriptSigtimedwait));
    add(compiler, "ppoll", address(&scriptPpoll));
    add(compiler, "pselect", address(&scriptPselect));
    add(compiler, "epoll_pwait", address(&scriptEpollPwait));

    add(compiler, "fork", address(&scriptFork));
    add(compiler, "vfork", address(&scriptVfork));
    add(compiler, "_Fork", address(&scriptUnderscoreFork));
    add(compiler, "clone", address(&scriptClone));
    add(compiler, "daemon", address(&scriptDaemon));
    add(compiler, "system", address(&scriptSystem));
    add(compiler, "popen", address(&scriptPopen));
    add(compiler, "execl", address(&scriptExecl));
    add(compiler, "execlp", address(&scriptExeclp));
    add(compiler, "execle", address(&scriptExecle));
    add(compiler, "execv", address(&scriptExecv));
    add(compiler, "execvp", address(&scriptExecvp));
    add(compiler, "execvpe", address(&scriptExecvpe));
    add(compiler, "execve", address(&scriptExecve));
    add(compiler, "fexecve", address(&scriptFexecve));
    add(compiler, "posix_spawn", address(&scriptPosixSpawn));
    add(compiler, "posix_spawnp", address(&scriptPosixSpawnp));
}

void restoreScriptSignalHandlers() {
    std::lock_guard lock(g_savedMutex);
    for (int signal = 1; signal < NSIG; ++signal) {
        if (!g_hasSaved[signal]) continue;
        sigaction(signal, &g_savedActions[signal], nullptr);
        g_hasSaved[signal] = false;
    }
}

} // namespace vortigo
