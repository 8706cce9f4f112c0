// Commands that wait for the render thread to rest try again from the event
// loop; a render thread that stays busy (waiting for a message box, say)
// must not make the user-interface thread spin.
#include "core/FrameQueue.h"
#include "core/ProjectState.h"
#include "core/RunState.h"
#include "ui/QtPlatform.h"
#include "ui/TraceWindow.h"

#include <QEventLoop>
#include <QKeyEvent>
#include <QTimer>
#include <gtest/gtest.h>

namespace vortigo {
namespace {

// Counts the presses of one key that reach a widget.
class KeyCounter : public QObject {
  public:
    explicit KeyCounter(int key) : m_key(key) {}
    int presses = 0;

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == m_key)
            ++presses;
        return false;
    }

  private:
    int m_key;
};

void runEventLoopFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

TEST(IdleRetry, TheXKeyIsTriedAgainAfterAPauseUntilTheRenderThreadRests) {
    QtPlatform qt;
    ScopedPlatform installed(&qt);
    TraceWindow trace;
    qt.registerWindow(WindowId::Trace, &trace);
    KeyCounter counter(Qt::Key_X);
    trace.installEventFilter(&counter);

    // A frame in flight: stopFlightAndCheckParked() fails for as long as this lasts.
    FrameQueue& queue = frameQueue();
    FrameBuffers buffers;
    buffers.draw[0] = GuardedBytes::allocate(3);
    buffers.draw[1] = GuardedBytes::allocate(3);
    buffers.display = GuardedBytes::allocate(3);
    buffers.width = buffers.height = 1;
    queue.install(std::move(buffers));
    runState().moveTo(RunPhase::Drawing);
    runState().scriptReady.set();
    runState().buffersReady.set();
    queue.handOver();
    qt.postMessage(WindowMessage{WindowId::Trace, MSG_KEYDOWN, 'X', 0});
    runEventLoopFor(400);
    // Without a pause between tries the key comes back thousands of times.
    EXPECT_GE(counter.presses, 2);
    EXPECT_LE(counter.presses, 400 / 10);

    queue.release(queue.take());
    runState().park();
    runEventLoopFor(100);
    const int handled = counter.presses;
    runEventLoopFor(100);
    EXPECT_EQ(counter.presses, handled); // taken once the render thread rests

    runState().moveTo(RunPhase::ShuttingDown);
    runState().scriptReady.clear();
    runState().buffersReady.clear();
    trace.removeEventFilter(&counter);
}

} // namespace
} // namespace vortigo
