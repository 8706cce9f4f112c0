// Waiting for another thread without polling blindly: any thread may wake
// the waiters after changing something they test, and a single wait step is
// at most 100 ms, so a change that forgot to notify is still seen.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace vortigo {

// Wakes every thread inside waitUntil(). Any thread may call it.
void notifyFlagChange();

// Waits in steps of at most 100 ms until done() holds or limitMs pass.
// Returns true when done() held before the limit.
bool waitUntil(const std::function<bool()>& done, int limitMs);

using Clock = std::chrono::steady_clock;

// Milliseconds of the monotonic clock: the studio's tick count.
int64_t tickCountMs();

} // namespace vortigo
