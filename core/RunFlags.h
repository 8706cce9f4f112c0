// Run-control flags shared by the user-interface, render and post-processing
// threads. Each flag is written with release and read with acquire order, so
// setting a flag publishes everything written before it (frameReady publishes
// the frame's pixels, for example). Every change also wakes the threads that
// wait for a flag, so a waiting thread reacts at once instead of at its next
// poll; a single wait step is still at most 100 ms.
#pragma once

#include "platform/Waits.h"

#include <atomic>

namespace vortigo {

class RunFlag {
  public:
    bool get() const { return m_value.load(std::memory_order_acquire); }
    operator bool() const { return get(); }
    void set() { store(true); }
    void clear() { store(false); }
    void store(bool value);

  private:
    std::atomic<bool> m_value{false};
};

} // namespace vortigo
