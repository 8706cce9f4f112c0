#include "core/Handoff.h"

#include "core/CameraFlight.h"
#include "core/FrameQueue.h"
#include "core/RunState.h"
#include "platform/Platform.h"
#include "platform/Waits.h"

namespace vortigo {

Timeouts& timeouts() {
    static Timeouts limits;
    return limits;
}

bool stopFlightAndCheckParked() {
    cameraView().flightMode = FLIGHT_STOPPED;
    const RunState& run = runState();
    return !run.running() || (run.held() && !frameQueue().inFlight());
}

bool waitForPostProcessing(int limitMs) {
    const RunState& run = runState();
    const FrameQueue& queue = frameQueue();
    return waitUntil([&] { return !(queue.inFlight() && run.running()); }, limitMs);
}

void sendAdvance() {
    RunState& run = runState();
    if (!run.running()) return;
    run.awaitAdvance();
    platform().sendMessage(WindowMessage{WindowId::Trace, MSG_ADVANCE, 0, 0},
                           [&] { return run.running(); });
    run.advanceDeclined();
}

} // namespace vortigo
