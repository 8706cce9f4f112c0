#include "flight/FlightRecord.h"

#include "core/ProjectState.h"
#include "flight/QuatMath.h"

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
    for (int i = 0; i < 4; ++i)
        record[8 + i] = s.udef ? s.udef[i] : 0.0f;
    s.flightHead = flightIndexForward(head);
    s.flightEnd = s.flightHead;
    if (s.flightEnd == flightIndexInRange(s.flightStart))
        s.flightStart = flightIndexForward(s.flightStart);
}

namespace {

float* recordAt(int32_t index) {
    return state().flightBuffer.get() + flightIndexInRange(index);
}

Quat orientationOf(const float* record) {
    return quatFrom(record + 4);
}

} // namespace

void loadCameraFromRecord(int32_t index) {
    ProjectState& s = state();
    if (!s.flightBuffer) return;
    const float* record = recordAt(index);
    s.xCenter = record[0];
    s.yCenter = record[1];
    s.zLens = record[2];
    s.animTime = record[3];
    for (int i = 0; i < 4; ++i)
        s.udef[i] = record[8 + i];
    setCameraQuat(orientationOf(record));
}

void replayStepForward() {
    ProjectState& s = state();
    const int32_t head = flightIndexInRange(s.flightHead);
    if (head == flightIndexInRange(s.flightEnd)) {
        s.flightMode = FLIGHT_STOPPED;
        return;
    }
    loadCameraFromRecord(head);
    s.flightHead = flightIndexForward(head);
}

void replayStepBackward() {
    ProjectState& s = state();
    const int32_t head = flightIndexInRange(s.flightHead);
    if (head == flightIndexInRange(s.flightStart)) {
        s.flightMode = FLIGHT_STOPPED;
        return;
    }
    s.flightHead = flightIndexBackward(head);
    loadCameraFromRecord(s.flightHead);
}

void startTimedReplay() {
    ProjectState& s = state();
    s.flightMode = FLIGHT_TIMED_REPLAY;
    if (!s.flightBuffer) return;
    const float firstTime = recordAt(s.flightStart)[3];
    if (s.animTime < firstTime) s.animTime = firstTime;
}

void replayTimedStep() {
    ProjectState& s = state();
    if (!s.flightBuffer) return;
    const int32_t end = flightIndexInRange(s.flightEnd);
    int32_t head = flightIndexInRange(s.flightHead);
    if (head == end) {
        s.flightMode = FLIGHT_STOPPED;
        return;
    }
    s.animTime += s.animationSpeed;
    for (int i = 0; i < 10000 && !(s.animTime < recordAt(head)[3]); ++i) {
        head = flightIndexForward(head);
        s.flightHead = head;
        if (head == end) {
            s.flightMode = FLIGHT_STOPPED;
            return;
        }
    }
    const float* previous = recordAt(flightIndexBackward(head));
    const float* next = recordAt(head);
    const float t0 = previous[3], t1 = next[3];
    if (t0 == t1) {
        s.flightMode = FLIGHT_STOPPED;
        return;
    }
    const float f = (t1 - s.animTime) / (t1 - t0);
    const float g = 1.0f - f;
    s.xCenter = f * previous[0] + g * next[0];
    s.yCenter = f * previous[1] + g * next[1];
    s.zLens = f * previous[2] + g * next[2];
    for (int i = 0; i < 4; ++i)
        s.udef[i] = f * previous[8 + i] + g * next[8 + i];
    setCameraQuat(slerpQuat(orientationOf(previous), orientationOf(next), g));
}

void smoothFlight() {
    ProjectState& s = state();
    if (!s.flightBuffer) return;
    const int32_t start = flightIndexInRange(s.flightStart);
    int32_t end = flightIndexInRange(s.flightEnd);
    if (start == end) return;
    if (end < start) end += FLIGHT_FLOATS;
    const int32_t limit = end - 2 * FLIGHT_RECORD_FLOATS;
    auto wrap = [](int32_t index) {
        return index >= FLIGHT_FLOATS ? index - FLIGHT_FLOATS : index;
    };
    float* buffer = s.flightBuffer.get();
    for (int pass = 0; pass < 16; ++pass) {
        for (int32_t j = start; j < limit; j += FLIGHT_RECORD_FLOATS) {
            const float* a = buffer + wrap(j);
            float* m = buffer + wrap(j + FLIGHT_RECORD_FLOATS);
            const float* b = buffer + wrap(j + 2 * FLIGHT_RECORD_FLOATS);
            for (int c = 0; c < 3; ++c)
                m[c] = (a[c] + b[c]) * 0.5f;
            store(slerpQuat(orientationOf(a), orientationOf(b), 0.5f), m + 4);
        }
    }
}

} // namespace vortigo
