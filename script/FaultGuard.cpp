#include "script/FaultGuard.h"

#include <cfenv>
#include <csetjmp>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <sys/mman.h>

namespace vortigo {
namespace {

constexpr int FAULT_SIGNALS[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr size_t ALT_STACK_BYTES = 256 * 1024;

thread_local sigjmp_buf* t_guard = nullptr;

// A stack of its own for the handler, so a script that overflows the
// thread's stack can still be caught. Freed when the thread ends.
struct AltStack {
    void* memory = nullptr;
    AltStack() {
        stack_t current{};
        if (sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE)) return;
        memory = mmap(nullptr, ALT_STACK_BYTES, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                      -1, 0);
        if (memory == MAP_FAILED) {
            memory = nullptr;
            return;
        }
        stack_t stack{};
        stack.ss_sp = memory;
        stack.ss_size = ALT_STACK_BYTES;
        sigaltstack(&stack, nullptr);
    }
    ~AltStack() {
        if (!memory) return;
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        sigaltstack(&off, nullptr);
        munmap(memory, ALT_STACK_BYTES);
    }
};

void onFault(int signal, siginfo_t*, void*) {
    sigjmp_buf* guard = t_guard;
    if (guard) {
        t_guard = nullptr;
        siglongjmp(*guard, signal);
    }
    // Not a script's fault: a bug of ours. Crash with the default action.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
    raise(signal);
}

void installHandlers() {
    struct sigaction action {};
    action.sa_sigaction = onFault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    for (int signal : FAULT_SIGNALS)
        sigaction(signal, &action, nullptr);
}

std::once_flag g_installed;

} // namespace

bool insideGuard() {
    return t_guard != nullptr;
}

void raiseScriptFault(int signal) {
    sigjmp_buf* guard = t_guard;
    if (!guard) std::abort();
    t_guard = nullptr;
    siglongjmp(*guard, signal);
}

int runGuarded(void (*fn)(void*), void* context) {
    std::call_once(g_installed, installHandlers);
    thread_local AltStack altStack;
    (void)altStack;

    // Floating-point exceptions stay masked; a script that unmasks them or
    // leaves flags raised does not change the host's environment.
    fenv_t environment;
    fegetenv(&environment);
    feclearexcept(FE_ALL_EXCEPT);

    sigjmp_buf buffer;
    sigjmp_buf* const outer = t_guard;
    int result = sigsetjmp(buffer, 1);
    if (result == 0) {
        t_guard = &buffer;
        fn(context);
    }
    t_guard = outer;
    fesetenv(&environment);
    feclearexcept(FE_ALL_EXCEPT);
    return result;
}

} // namespace vortigo
