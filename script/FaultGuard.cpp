#include "script/FaultGuard.h"

#include <algorithm>
#include <cfenv>
#include <chrono>
#include <condition_variable>
#include <csetjmp>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <pthread.h>
#include <sys/mman.h>
#include <system_error>
#include <thread>

namespace vortigo {
namespace {

constexpr int FAULT_SIGNALS[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP};
constexpr size_t ALT_STACK_BYTES = size_t{256} * 1024;

int timeoutSignal() {
    return SIGRTMIN + 2;
}

thread_local sigjmp_buf* t_guard = nullptr;
// The watched call of this thread: the watchdog's interruption names it, so
// one meant for an earlier call never ends a later one.
thread_local volatile uint32_t t_watchGeneration = 0;
thread_local volatile sig_atomic_t t_watchActive = 0;
thread_local volatile sig_atomic_t t_hostDepth = 0;
thread_local volatile sig_atomic_t t_timeoutPending = 0;

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

[[noreturn]] void jumpOut(int result) {
    sigjmp_buf* guard = t_guard;
    t_guard = nullptr;
    siglongjmp(*guard, result);
}

void onFault(int signal, siginfo_t* info, void*) {
    // kill() and sigqueue() aim at the process, not at the thread that runs:
    // nobody's fault, and never a reason to end the studio.
    if (info && (info->si_code == SI_USER || info->si_code == SI_QUEUE)) return;
    if (t_guard) jumpOut(signal);
    // Sent to this thread by name, outside a script: only our own abort()
    // means to end the process.
    if (info && info->si_code == SI_TKILL && signal != SIGABRT) return;
    // Not a script's fault: a bug of ours. Crash with the default action.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
    raise(signal);
}

void onTimeout(int, siginfo_t* info, void*) {
    if (!t_guard || !t_watchActive || !info ||
        static_cast<uint32_t>(info->si_value.sival_int) != t_watchGeneration)
        return;
    if (t_hostDepth > 0) {
        t_timeoutPending = 1;
        return;
    }
    t_watchActive = 0;
    jumpOut(GUARD_TIMED_OUT);
}

void installHandlers() {
    struct sigaction action {};
    action.sa_sigaction = onFault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    for (int signal : FAULT_SIGNALS)
        sigaction(signal, &action, nullptr);
    struct sigaction timeout {};
    timeout.sa_sigaction = onTimeout;
    timeout.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&timeout.sa_mask);
    sigaction(timeoutSignal(), &timeout, nullptr);
}

std::once_flag g_installed;

// ---- The watchdog ----------------------------------------------------------
// One thread for the process watches the deadlines of the running entry
// points and interrupts the thread whose call ran past its own.

using WatchClock = std::chrono::steady_clock;

struct Watch {
    pthread_t thread{};
    uint32_t generation = 0;
    WatchClock::time_point deadline{};
    bool active = false;
    bool fired = false;
};

constexpr int MAX_WATCHED_THREADS = 16;
// Never destroyed: the watchdog waits on them until the process ends.
std::mutex& g_watchMutex = *new std::mutex;
std::condition_variable& g_watchChanged = *new std::condition_variable;
Watch g_watches[MAX_WATCHED_THREADS];
bool g_slotUsed[MAX_WATCHED_THREADS]{};
bool g_watcherStarted = false;
// When the watchdog wakes next; a new deadline before it must wake it (most
// calls end long before, so most starts wake nobody).
WatchClock::time_point g_watcherWakesAt = WatchClock::time_point::max();

void watcherMain() {
    std::unique_lock lock(g_watchMutex);
    for (;;) {
        const auto now = WatchClock::now();
        auto next = now + std::chrono::seconds(60);
        for (Watch& watch : g_watches) {
            if (!watch.active || watch.fired) continue;
            if (watch.deadline <= now) {
                watch.fired = true;
                sigval value{};
                value.sival_int = static_cast<int>(watch.generation);
                pthread_sigqueue(watch.thread, timeoutSignal(), value);
            } else {
                next = std::min(next, watch.deadline);
            }
        }
        g_watcherWakesAt = next;
        g_watchChanged.wait_until(lock, next);
        g_watcherWakesAt = WatchClock::time_point::min();
    }
}

// The calling thread's slot; released when the thread ends, under the lock,
// so the watchdog never signals a thread that is gone.
struct WatchSlot {
    int index = -1;
    WatchSlot() {
        std::lock_guard lock(g_watchMutex);
        for (int i = 0; i < MAX_WATCHED_THREADS; ++i) {
            if (g_slotUsed[i]) continue;
            g_slotUsed[i] = true;
            g_watches[i] = Watch{};
            g_watches[i].thread = pthread_self();
            index = i;
            break;
        }
        if (!g_watcherStarted && index >= 0) {
            // Under an address-space limit a thread's stack may not fit:
            // this call then runs without the watchdog, the next one tries
            // again.
            try {
                std::thread(watcherMain).detach();
                g_watcherStarted = true;
            } catch (const std::system_error&) {
            }
        }
    }
    ~WatchSlot() {
        if (index < 0) return;
        std::lock_guard lock(g_watchMutex);
        g_watches[index].active = false;
        g_slotUsed[index] = false;
    }
};

WatchSlot& ownSlot() {
    thread_local WatchSlot slot;
    return slot;
}

void startWatch(int limitSeconds) {
    WatchSlot& slot = ownSlot();
    if (slot.index < 0) return;
    std::lock_guard lock(g_watchMutex);
    Watch& watch = g_watches[slot.index];
    watch.generation = t_watchGeneration + 1;
    watch.deadline = WatchClock::now() + std::chrono::seconds(limitSeconds);
    watch.active = true;
    watch.fired = false;
    t_watchGeneration = watch.generation;
    t_timeoutPending = 0;
    t_watchActive = 1;
    if (watch.deadline < g_watcherWakesAt) g_watchChanged.notify_one();
}

void stopWatch() {
    t_watchActive = 0;
    const int index = ownSlot().index;
    if (index < 0) return;
    std::lock_guard lock(g_watchMutex);
    g_watches[index].active = false;
}

} // namespace

bool isGuardSignal(int signal) {
    for (int fault : FAULT_SIGNALS)
        if (signal == fault) return true;
    return signal == timeoutSignal();
}

bool insideGuard() {
    return t_guard != nullptr;
}

void raiseScriptFault(int signal) {
    if (!t_guard) std::abort();
    jumpOut(signal);
}

void enterHostCode() {
    t_hostDepth = t_hostDepth + 1;
}

void leaveHostCode() {
    t_hostDepth = t_hostDepth - 1;
    if (t_hostDepth == 0 && t_timeoutPending && t_watchActive && t_guard) {
        t_timeoutPending = 0;
        t_watchActive = 0;
        jumpOut(GUARD_TIMED_OUT);
    }
}

int runGuarded(void (*fn)(void*), void* context, int limitSeconds) {
    std::call_once(g_installed, installHandlers);
    thread_local AltStack altStack;
    (void)altStack;

    // Floating-point exceptions stay masked; a script that unmasks them or
    // leaves flags raised does not change the host's environment.
    fenv_t environment;
    fegetenv(&environment);
    feclearexcept(FE_ALL_EXCEPT);

    const bool watched = limitSeconds > 0 && !t_watchActive;
    if (watched) startWatch(limitSeconds);
    const sig_atomic_t hostDepth = t_hostDepth;
    sigjmp_buf buffer;
    sigjmp_buf* const outer = t_guard;
    int result = sigsetjmp(buffer, 1);
    if (result == 0) {
        t_guard = &buffer;
        fn(context);
    }
    t_guard = outer;
    // A fault inside a host function skipped its leaveHostCode.
    t_hostDepth = hostDepth;
    if (watched) stopWatch();
    fesetenv(&environment);
    feclearexcept(FE_ALL_EXCEPT);
    return result;
}

} // namespace vortigo
