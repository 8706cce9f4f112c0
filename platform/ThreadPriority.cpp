#include "platform/ThreadPriority.h"

#include <algorithm>
#include <cerrno>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace vortigo {

void lowerThisThreadPriority() {
    // On Linux the nice value belongs to the thread named by its id. A
    // refusal only leaves the normal priority: nothing to report.
    const auto thread = static_cast<id_t>(syscall(SYS_gettid));
    errno = 0;
    const int current = getpriority(PRIO_PROCESS, thread);
    if (errno != 0) return;
    setpriority(PRIO_PROCESS, thread, std::min(current + BACKGROUND_NICENESS, 19));
}

void runAtLowerPriority(const std::function<void()>& fn) {
    std::thread worker([&fn] {
        lowerThisThreadPriority();
        fn();
    });
    worker.join();
}

} // namespace vortigo
