// Commands that change what the render thread reads (New, Open, the Output
// dialog's OK, the X key, reloading backgrounds) run only while it rests and
// otherwise come back later from the event loop. A short pause before each
// try keeps the user-interface thread from spinning while the render thread
// is busy, for example waiting for a message box the user has not closed.
#pragma once

#include <QObject>
#include <QTimer>
#include <utility>

namespace vortigo {

constexpr int IDLE_RETRY_MS = 25;

// GUI thread: runs `retry` from the event loop after the pause, unless
// `context` is gone by then.
template <typename F> void retryWhenIdle(const QObject* context, F&& retry) {
    QTimer::singleShot(IDLE_RETRY_MS, context, std::forward<F>(retry));
}

} // namespace vortigo
