#include "flight/FlightRecord.h"

#include "app/ProjectState.h"

#include <algorithm>

namespace vortigo {

int32_t flightIndexInRange(int32_t index) {
    if (index <= 0) return 0;
    if (index >= FLIGHT_LAST_INDEX) return FLIGHT_LAST_INDEX;
    return index - index % FLIGHT_RECORD_FLOATS;
}

int32_t flightIndexForward(int32_t index) {
    const int32_t next = flightIndexInRange(index) + FLIGHT_RECORD_FLOATS;
    return next >= FLIGHT_FLOATS ? 0 : next;
}

int32_t flightIndexBackward(int32_t index) {
    const int32_t previous = flightIndexInRange(index) - FLIGHT_RECORD_FLOATS;
    return previous < 0 ? FLIGHT_LAST_INDEX : previous;
}

void recordFlightSample() {
    ProjectState& s = state();
    if (!s.flightBuffer) return;
    const int32_t head = flightIndexInRange(s.flightHead);
    float* record = s.flightBuffer.get() + head;
    record[0] = s.xCenter;
    record[1] = s.yCenter;
    record[2] = s.zLens;
    record[3] = s.animTime;
    std::copy(s.cameraQuat, s.cameraQuat + 4, record + 4);
    for (int i = 0; i < 4; ++i) record[8 + i] = s.udef ? s.udef[i] : 0.0f;
    s.flightHead = flightIndexForward(head);
    s.flightEnd = s.flightHead;
    if (s.flightEnd == flightIndexInRange(s.flightStart))
        s.flightStart = flightIndexForward(s.flightStart);
}

} // namespace vortigo
