#include "core/Handoff.h"

#include "core/CameraFlight.h"
#include "core/ProjectState.h"
#include "platform/Platform.h"

namespace vortigo {

Timeouts& timeouts() {
    static Timeouts limits;
    return limits;
}

std::atomic<bool>& heldByFailure() {
    static std::atomic<bool> held{false};
    return held;
}

bool idleTest() {
    ProjectState& s = state();
    cameraView().flightMode = FLIGHT_STOPPED;
    return !s.renderRun || (s.renderHold && !s.frameReady);
}

bool waitForPostProcessing(int limitMs) {
    ProjectState& s = state();
    return waitUntil([&] { return !(s.frameReady && s.renderRun); }, limitMs);
}

void sendAdvance() {
    ProjectState& s = state();
    if (!s.renderRun) return;
    platform().sendMessage(WindowMessage{WindowId::Trace, MSG_ADVANCE, 0, 0},
                           [&] { return s.renderRun.get(); });
}

} // namespace vortigo
