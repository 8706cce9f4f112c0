// Puts the process-wide state groups back to freshly constructed ones, so a
// test starts from the same values whatever ran before it.
#pragma once

#include "core/CameraFlight.h"
#include "core/CaptureState.h"
#include "core/FrameQueue.h"
#include "core/Handoff.h"
#include "core/ProjectFiles.h"
#include "core/RunState.h"
#include "core/ScriptShared.h"
#include "core/ShaderParams.h"
#include "core/ThreadRole.h"
#include "core/ViewFlags.h"
#include "script/CompileNotes.h"

#include <gtest/gtest.h>
#include <new>

namespace vortigo::test {

// A group cannot be assigned (its references point into the script
// blocks), so it is rebuilt in place at the same address.
template <typename T, typename... Args> void rebuild(T& group, Args&... args) {
    group.~T();
    new (&group) T(args...);
}

// Every field gets its declared default; the flight ring and maxUdef udef
// entries are allocated and zeroed. The calling thread becomes the
// user-interface and motion thread. No worker thread may be running.
inline void resetProjectState() {
    registerThreadRole(ThreadRole::Ui);
    claimMotion();
    ScriptShared& blocks = scriptShared();
    rebuild(blocks); // first: it empties the blocks the others point into
    ProjectFiles& files = projectFiles();
    rebuild(files, blocks.frameInfo, blocks.animInfo);
    CameraFlight& camera = cameraFlight();
    rebuild(camera, blocks.frameInfo, blocks.animInfo);
    rebuild(captureState(), blocks.frameInfo);
    rebuild(viewFlags());
    camera.flightBuffer = GuardedFloats::allocate(FLIGHT_FLOATS);
    camera.udef = GuardedFloats::allocate(static_cast<size_t>(files.maxUdef));
    shaderParams().clear();
}

// The render thread as the keys and the advance find it between frames: a
// compiled script, frame buffers, and (when `held`) waiting for the next
// advance, without starting the workers. The next test's reset undoes it.
inline void standInForAReadyRenderThread(bool held = true) {
    runState().moveTo(RunPhase::Drawing);
    runState().scriptReady.set();
    runState().buffersReady.set();
    if (held) runState().park();
}

// Everything a test can leave behind in the process: the record, the run
// state, the frame queue, and the timeouts a test may have shortened. No
// worker thread may be running.
inline void resetProcessState() {
    resetProjectState();
    timeouts() = Timeouts{};
    runState().reset();
    frameQueue().clear();
    frameQueue().frameMs = 0;
    frameQueue().lastFrameTick = 0;
    setQuietCompile(false);
    beginCompile();
    takeCompileNote();
}

// Every test of the binary starts from resetProcessState() and then `also`
// (the window layer's own state), so the tests pass together in one process,
// in any order. Call once from main().
inline void startEachTestFresh(void (*also)() = nullptr) {
    class FreshState : public ::testing::EmptyTestEventListener {
      public:
        explicit FreshState(void (*also)()) : m_also(also) {}

      private:
        void OnTestStart(const ::testing::TestInfo&) override {
            resetProcessState();
            if (m_also) m_also();
        }
        void (*m_also)();
    };
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshState(also));
}

} // namespace vortigo::test
