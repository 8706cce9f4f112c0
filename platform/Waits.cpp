#include "platform/Waits.h"

#include <condition_variable>
#include <mutex>

namespace vortigo {
namespace {

// The mutex only orders the notify against a waiter that is about to sleep;
// nobody holds it across any other work. Both are never destroyed: a worker
// left running at exit may still notify while the process ends.
std::mutex& g_changeMutex = *new std::mutex;
std::condition_variable& g_change = *new std::condition_variable;
uint64_t g_generation = 0;

} // namespace

void notifyFlagChange() {
    {
        std::lock_guard lock(g_changeMutex);
        ++g_generation;
    }
    g_change.notify_all();
}

bool waitUntil(const std::function<bool()>& done, int limitMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    for (;;) {
        // Take the generation before testing, so a change between the test
        // and the sleep is not missed.
        uint64_t seen;
        {
            std::lock_guard lock(g_changeMutex);
            seen = g_generation;
        }
        if (done()) return true;
        const auto now = Clock::now();
        if (now >= deadline) return false;
        const auto step = std::min<Clock::duration>(deadline - now, std::chrono::milliseconds(100));
        std::unique_lock lock(g_changeMutex);
        g_change.wait_for(lock, step, [&] { return g_generation != seen; });
    }
}

int64_t tickCountMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
        .count();
}

} // namespace vortigo
