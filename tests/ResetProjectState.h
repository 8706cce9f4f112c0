// Puts the process-wide project state back to a freshly constructed record,
// so a test starts from the same values whatever ran before it.
#pragma once

#include "core/FrameQueue.h"
#include "core/Handoff.h"
#include "core/ProjectState.h"
#include "core/RunState.h"

#include <gtest/gtest.h>
#include <new>

namespace vortigo::test {

// Every field gets its declared default; the flight ring and maxUdef udef
// entries are allocated and zeroed. No worker thread may be running.
inline void resetProjectState() {
    ProjectState& s = state();
    // The record cannot be assigned (its references point into its own
    // script blocks), so it is rebuilt in place at the same address.
    s.~ProjectState();
    new (&s) ProjectState();
    s.flightBuffer = GuardedFloats::allocate(FLIGHT_FLOATS);
    s.udef = GuardedFloats::allocate(static_cast<size_t>(s.maxUdef));
}

// Everything a test can leave behind in the process: the record, the run
// state, the frame queue, and the timeouts a test may have shortened. No
// worker thread may be running.
inline void resetProcessState() {
    resetProjectState();
    timeouts() = Timeouts{};
    runState().reset();
    frameQueue().clear();
}

// Every test of the binary starts from resetProcessState(), so the tests
// pass together in one process, in any order. Call once from main().
inline void startEachTestFresh() {
    class FreshState : public ::testing::EmptyTestEventListener {
        void OnTestStart(const ::testing::TestInfo&) override { resetProcessState(); }
    };
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshState);
}

} // namespace vortigo::test
