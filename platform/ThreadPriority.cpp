#include "platform/ThreadPriority.h"

#include <algorithm>
#include <cerrno>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace vortigo {

void lowerThisThreadPriority() {
    // On Linux the nice value belongs to the thread named by its id, and the
    // process id names the main thread, whose level is the normal one. A
    // thread already lowered stays where it is, so work started from one (a
    // new file's encoder, opened while capturing) sits at the same level. A
    // refusal only leaves the priority as it was: nothing to report.
    errno = 0;
    const int normal = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
    const auto thread = static_cast<id_t>(syscall(SYS_gettid));
    const int current = getpriority(PRIO_PROCESS, thread);
    if (errno != 0) return;
    const int lowered = std::min(normal + BACKGROUND_NICENESS, 19);
    if (current < lowered) setpriority(PRIO_PROCESS, thread, lowered);
}

void runAtLowerPriority(const std::function<void()>& fn) {
    std::thread worker([&fn] {
        lowerThisThreadPriority();
        fn();
    });
    worker.join();
}

} // namespace vortigo
