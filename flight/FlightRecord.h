// The flight ring: 10000 slots of 12 floats in flightBuffer, indexed by float
// indices that are multiples of 12. The indices live where the script can
// write them, so every host use brings them into range first.
//
// Threads: user-interface thread (and the render thread only through the
// script's own writes).
#pragma once

#include <cstdint>

namespace vortigo {

constexpr int32_t FLIGHT_LAST_INDEX = 119988;

// A multiple of 12 from 0 to 119988: anything else is rounded down and
// clamped into that range.
int32_t flightIndexInRange(int32_t index);

int32_t flightIndexForward(int32_t index);
int32_t flightIndexBackward(int32_t index);

// Writes the camera, animTime and udef[0..3] at flightHead and moves the
// marks on: flightEnd follows the head, and flightStart is pushed on when
// the ring is full.
void recordFlightSample();

// Camera, animTime and udef[0..3] from the record at `index`; the matrix
// follows the orientation.
void loadCameraFromRecord(int32_t index);

// One step of the step replays: forward loads the record at the head and
// moves on; backward moves back and loads. Both stop the flight (flightMode
// 0) at the end of the recording without moving the camera.
void replayStepForward();
void replayStepBackward();

// flightMode 2; animTime is raised to the first record's time if below it.
void startTimedReplay();
// One step of the time-based replay: animTime advances by animationSpeed and
// the camera is interpolated between the records around it.
void replayTimedStep();

// 16 passes of neighbour averaging over the inner records' positions and
// orientations; the first and last record stay.
void smoothFlight();

} // namespace vortigo
