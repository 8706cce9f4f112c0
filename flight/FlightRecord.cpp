#include "flight/FlightRecord.h"

#include "core/CameraFlight.h"
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
    CameraFlight& camera = cameraFlight();
    if (!camera.flightBuffer) return;
    const int32_t head = flightIndexInRange(camera.flightHead);
    float* record = camera.flightBuffer.get() + head;
    record[0] = camera.xCenter;
    record[1] = camera.yCenter;
    record[2] = camera.zLens;
    record[3] = camera.animTime;
    std::copy(camera.cameraQuat, camera.cameraQuat + 4, record + 4);
    for (int i = 0; i < 4; ++i)
        record[8 + i] = camera.udef ? camera.udef[i] : 0.0f;
    camera.flightHead = flightIndexForward(head);
    camera.flightEnd = camera.flightHead;
    if (camera.flightEnd == flightIndexInRange(camera.flightStart))
        camera.flightStart = flightIndexForward(camera.flightStart);
}

namespace {

float* recordAt(int32_t index) {
    return cameraView().flightBuffer.get() + flightIndexInRange(index);
}

Quat orientationOf(const float* record) {
    return quatFrom(record + 4);
}

} // namespace

void loadCameraFromRecord(int32_t index) {
    CameraFlight& camera = cameraFlight();
    if (!camera.flightBuffer) return;
    const float* record = recordAt(index);
    camera.xCenter = record[0];
    camera.yCenter = record[1];
    camera.zLens = record[2];
    camera.animTime = record[3];
    for (int i = 0; i < 4; ++i)
        camera.udef[i] = record[8 + i];
    setCameraQuat(orientationOf(record));
}

void replayStepForward() {
    CameraFlight& camera = cameraFlight();
    const int32_t head = flightIndexInRange(camera.flightHead);
    if (head == flightIndexInRange(camera.flightEnd)) {
        camera.flightMode = FLIGHT_STOPPED;
        return;
    }
    loadCameraFromRecord(head);
    camera.flightHead = flightIndexForward(head);
}

void replayStepBackward() {
    CameraFlight& camera = cameraFlight();
    const int32_t head = flightIndexInRange(camera.flightHead);
    if (head == flightIndexInRange(camera.flightStart)) {
        camera.flightMode = FLIGHT_STOPPED;
        return;
    }
    camera.flightHead = flightIndexBackward(head);
    loadCameraFromRecord(camera.flightHead);
}

void startTimedReplay() {
    CameraFlight& camera = cameraFlight();
    camera.flightMode = FLIGHT_TIMED_REPLAY;
    if (!camera.flightBuffer) return;
    const float firstTime = recordAt(camera.flightStart)[3];
    if (camera.animTime < firstTime) camera.animTime = firstTime;
}

void replayTimedStep() {
    CameraFlight& camera = cameraFlight();
    if (!camera.flightBuffer) return;
    const int32_t end = flightIndexInRange(camera.flightEnd);
    int32_t head = flightIndexInRange(camera.flightHead);
    if (head == end) {
        camera.flightMode = FLIGHT_STOPPED;
        return;
    }
    camera.animTime += camera.animationSpeed;
    for (int i = 0; i < 10000 && !(camera.animTime < recordAt(head)[3]); ++i) {
        head = flightIndexForward(head);
        camera.flightHead = head;
        if (head == end) {
            camera.flightMode = FLIGHT_STOPPED;
            return;
        }
    }
    const float* previous = recordAt(flightIndexBackward(head));
    const float* next = recordAt(head);
    const float t0 = previous[3], t1 = next[3];
    if (t0 == t1) {
        camera.flightMode = FLIGHT_STOPPED;
        return;
    }
    const float f = (t1 - camera.animTime) / (t1 - t0);
    const float g = 1.0f - f;
    camera.xCenter = f * previous[0] + g * next[0];
    camera.yCenter = f * previous[1] + g * next[1];
    camera.zLens = f * previous[2] + g * next[2];
    for (int i = 0; i < 4; ++i)
        camera.udef[i] = f * previous[8 + i] + g * next[8 + i];
    setCameraQuat(slerpQuat(orientationOf(previous), orientationOf(next), g));
}

void smoothFlight() {
    const CameraFlight& camera = cameraView();
    if (!camera.flightBuffer) return;
    const int32_t start = flightIndexInRange(camera.flightStart);
    int32_t end = flightIndexInRange(camera.flightEnd);
    if (start == end) return;
    if (end < start) end += FLIGHT_FLOATS;
    const int32_t limit = end - 2 * FLIGHT_RECORD_FLOATS;
    auto wrap = [](int32_t index) {
        return index >= FLIGHT_FLOATS ? index - FLIGHT_FLOATS : index;
    };
    float* buffer = camera.flightBuffer.get();
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
