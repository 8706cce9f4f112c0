// The three-thread handshake with the real render and post-processing
// threads, a real EGL context, and the headless platform playing the
// user-interface thread (this test's thread pumps its messages).
#include "TempDir.h"
#include "control/TraceKeys.h"
#include "core/CameraFlight.h"
#include "core/CaptureState.h"
#include "core/FrameQueue.h"
#include "core/ProjectFiles.h"
#include "core/ProjectState.h"
#include "core/RunState.h"
#include "core/ScriptShared.h"
#include "core/ViewFlags.h"
#include "flight/FlightControls.h"
#include "media/Capture.h"
#include "media/MediaTools.h"
#include "persist/ProjectDefaults.h"
#include "platform/HeadlessPlatform.h"
#include "platform/ProgramDir.h"
#include "platform/Waits.h"
#include "render/FramePipeline.h"
#include "render/Workers.h"
#include "script/ScriptHost.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>

namespace vortigo {
namespace {

class WorkersTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::copyDefaultTexts(m_dir);
        m_dir.write("VORTOptions.ini", "[VORT]\nWidth=63\nHeight=37\nMaxWidth=128\nMaxHeight=96\n");
        setProgramDirectory(m_dir.path());
        m_platform.setHandler(WindowId::Trace, [](const WindowMessage& m) {
            if (m.type == MSG_ADVANCE) handleAdvanceMessage();
        });
        timeouts().postProcessingWaitMs = 3000;
        timeouts().workerExitMs = 2000;
        ASSERT_TRUE(initialiseProjectState());
        setFrameSink([this](const FrameView& frame) {
            std::lock_guard lock(m_framesMutex);
            m_frames.push_back(frame);
        });
    }

    void TearDown() override {
        if (renderThreadRunning() || postThreadRunning()) runExitPath();
        setFrameSink(nullptr);
        timeouts() = Timeouts{};
    }

    // Start-up: workers, then the compile and resize requests. The worker
    // start releases the render thread, so the first frame follows by itself.
    void startStudio() {
        startWorkers();
        runState().compileRequest.set();
        runState().resizeRequest.set();
        ASSERT_TRUE(pumpUntil([this] {
            return runState().scriptReady && runState().buffersReady &&
                   !runState().compileRequest && !runState().resizeRequest && frameCount() == 1 &&
                   parked();
        }));
    }

    // Start-up whose allocation is expected to fail and say so.
    void startStudioWithoutBuffers() {
        startWorkers();
        runState().compileRequest.set();
        runState().resizeRequest.set();
        ASSERT_TRUE(pumpUntil([this] {
            return runState().scriptReady && !runState().resizeRequest &&
                   !m_platform.messageBoxes().empty();
        }));
    }

    void run() {
        runState().scriptReady.clear();
        runState().runAfterCompile.set();
        runState().compileRequest.set();
    }

    // Generous: a sanitizer build on a busy machine starts slowly, and a wait
    // that succeeds returns at once.
    bool pumpUntil(const std::function<bool()>& done, int limitMs = 60000) {
        return m_platform.pumpUntil(done, limitMs);
    }

    size_t frameCount() {
        std::lock_guard lock(m_framesMutex);
        return m_frames.size();
    }

    // Nothing more can happen unasked: the render thread went round its loop
    // twice with nothing to do while this thread handled what it posted.
    void settle() {
        const uint64_t passes = renderIdlePasses();
        EXPECT_TRUE(pumpUntil([&] { return renderIdlePasses() >= passes + 2; }));
    }

    bool parked() { return runState().held() && !frameQueue().inFlight(); }

    // The frame the Trace window would paint now.
    const uint8_t* displayed() {
        const uint8_t* pixels = nullptr;
        frameQueue().withDisplayed([&](const FrameView& view) { pixels = view.pixels; });
        return pixels;
    }

    HeadlessPlatform m_platform;
    ScopedPlatform m_installed{&m_platform};
    test::TempDir m_dir;
    std::mutex m_framesMutex;
    std::vector<FrameView> m_frames;
};

TEST_F(WorkersTest, StartUpCompilesAllocatesAndDrawsOneFrame) {
    startStudio();
    EXPECT_EQ(frameQueue().width(), 63);
    EXPECT_EQ(frameQueue().height(), 37);
    settle();
    // The finished frame became the display buffer without a copy.
    ASSERT_EQ(frameCount(), 1u);
    {
        std::lock_guard lock(m_framesMutex);
        EXPECT_EQ(m_frames[0].pixels, displayed());
    }
    EXPECT_NE(frameQueue().target(), nullptr);
    EXPECT_NE(frameQueue().target(), displayed());
    EXPECT_NE(frameQueue().extra(), nullptr);
    EXPECT_NE(frameQueue().depth(), nullptr);
    EXPECT_EQ(frameCount(), 1u);
    EXPECT_TRUE(stopFlightAndCheckParked());
}

TEST_F(WorkersTest, OneFramePerAdvanceWhenTheFlightIsStopped) {
    startStudio();
    settle();
    EXPECT_EQ(frameCount(), 1u);
    EXPECT_TRUE(stopFlightAndCheckParked());

    {
        std::lock_guard lock(m_framesMutex);
        EXPECT_EQ(m_frames[0].width, 63);
        EXPECT_EQ(m_frames[0].height, 37);
        EXPECT_EQ(m_frames[0].pixels, displayed());
        // The next frame is drawn into another buffer.
        EXPECT_NE(frameQueue().target(), m_frames[0].pixels);
    }
    EXPECT_EQ(m_platform.invalidations(WindowId::Trace), 1);
    EXPECT_EQ(m_platform.title(WindowId::Trace), ""); // no advance has been handled yet

    run(); // compiles again and asks for one advance
    ASSERT_TRUE(pumpUntil([&] { return frameCount() == 2 && parked(); }));
    EXPECT_NE(m_platform.title(WindowId::Trace).find("cap:off, mspf:"), std::string::npos);

    m_platform.postMessage(WindowMessage{WindowId::Trace, MSG_ADVANCE, 0, 0});
    ASSERT_TRUE(pumpUntil([&] { return frameCount() == 3 && parked(); }));
    settle();
    EXPECT_EQ(frameCount(), 3u);
    std::lock_guard lock(m_framesMutex);
    // Each frame is drawn into a buffer the window does not show, and the
    // window shows the last one.
    EXPECT_NE(m_frames[1].pixels, m_frames[0].pixels);
    EXPECT_NE(m_frames[2].pixels, m_frames[1].pixels);
    EXPECT_EQ(m_frames[2].pixels, displayed());
    EXPECT_NE(frameQueue().target(), displayed());
}

TEST_F(WorkersTest, AFlyingCameraKeepsFramesComingAndTheIdleTestStopsIt) {
    startStudio();
    cameraView().flightMode = FLIGHT_FREE;
    run();
    ASSERT_TRUE(pumpUntil([&] { return frameCount() >= 5; }));
    // stopFlightAndCheckParked() stops the flight; the render thread then parks.
    EXPECT_TRUE(pumpUntil([] { return stopFlightAndCheckParked(); }));
    EXPECT_EQ(cameraView().flightMode, FLIGHT_STOPPED);
    const size_t stopped = frameCount();
    settle();
    EXPECT_LE(frameCount(), stopped + 1);
}

TEST_F(WorkersTest, ACompileReleasesEveryHeldKey) {
    startStudio();
    CameraFlight& camera = cameraFlight();
    ScriptShared& blocks = scriptShared();
    camera.keyDown['A' - KEY_FIRST] = 1;
    camera.keyDown[255 - KEY_FIRST] = 1;
    run();
    ASSERT_TRUE(pumpUntil([&] { return frameCount() == 2 && parked(); }));
    EXPECT_EQ(blocks.frameInfo.keyDown['A' - KEY_FIRST], 0);
    EXPECT_EQ(camera.keyDown[255 - KEY_FIRST], 0);
}

TEST_F(WorkersTest, AScriptThatFailsToCompileDrawsNothing) {
    startStudio();
    std::strcpy(projectFiles().scriptText.get(), "this is not C");
    run();
    ASSERT_TRUE(pumpUntil([this] { return !m_platform.messageBoxes().empty(); }));
    settle();
    EXPECT_FALSE(runState().scriptReady);
    EXPECT_EQ(frameCount(), 1u);
}

// The worker start releases the render thread for the first frame; when the script
// fails that frame never comes, and stopFlightAndCheckParked() must still see the
// render thread parked, or New and Open would wait for ever. The frame is
// still owed: a later Compile that succeeds draws it.
TEST_F(WorkersTest, AFailedStartUpCompileLeavesTheRenderThreadParkedUntilACompileSucceeds) {
    ProjectFiles& files = projectFiles();
    const std::string script = files.scriptText.get();
    std::strcpy(files.scriptText.get(), "this is not C");
    startWorkers();
    runState().compileRequest.set();
    runState().resizeRequest.set();
    ASSERT_TRUE(pumpUntil([this] {
        return !m_platform.messageBoxes().empty() && !runState().compileRequest &&
               runState().buffersReady;
    }));
    EXPECT_TRUE(stopFlightAndCheckParked());
    EXPECT_EQ(frameCount(), 0u);

    std::strcpy(projectFiles().scriptText.get(), script.c_str());
    runState().scriptReady.clear();
    runState().runAfterCompile.clear(); // Compile, not Run
    runState().compileRequest.set();
    ASSERT_TRUE(pumpUntil([this] { return frameCount() == 1 && parked(); }));
    EXPECT_TRUE(runState().scriptReady);
    EXPECT_EQ(m_platform.messageBoxes().size(), 1u);

    // New after a failed start-up compile keeps the reset's own hold: its
    // compile draws nothing until Run.
    ASSERT_TRUE(runExitPath());
    ASSERT_TRUE(initialiseProjectState());
    std::strcpy(files.scriptText.get(), "this is not C");
    startWorkers();
    runState().compileRequest.set();
    runState().resizeRequest.set();
    ASSERT_TRUE(pumpUntil([&] {
        return m_platform.messageBoxes().size() == 2 && runState().buffersReady && parked();
    }));
    ASSERT_TRUE(stopFlightAndCheckParked());
    resetToDefaults();
    runState().compileRequest.set();
    runState().resizeRequest.set();
    ASSERT_TRUE(pumpUntil([&] {
        return runState().scriptReady && runState().buffersReady && !runState().resizeRequest;
    }));
    settle();
    EXPECT_EQ(frameCount(), 1u);
}

TEST_F(WorkersTest, AResizeWhileFramesFlowGivesFramesOfTheNewSize) {
    startStudio();
    CameraFlight& camera = cameraFlight();
    camera.flightMode = FLIGHT_FREE;
    m_platform.postMessage(WindowMessage{WindowId::Trace, MSG_ADVANCE, 0, 0});
    ASSERT_TRUE(pumpUntil([&] { return frameCount() >= 4; }));
    // What the Output dialog does: wait for stopFlightAndCheckParked(), change, request.
    ASSERT_TRUE(pumpUntil([] { return stopFlightAndCheckParked(); }));
    projectFiles().imageWidth = 50;
    projectFiles().imageHeight = 31;
    runState().buffersReady.clear();
    runState().resizeRequest.set();
    ASSERT_TRUE(pumpUntil([&] { return runState().buffersReady && !runState().resizeRequest; }));
    const size_t before = frameCount();
    camera.flightMode = FLIGHT_FREE;
    m_platform.postMessage(WindowMessage{WindowId::Trace, MSG_ADVANCE, 0, 0});
    ASSERT_TRUE(pumpUntil([&] { return frameCount() >= before + 3; }));
    camera.flightMode = FLIGHT_STOPPED;
    std::lock_guard lock(m_framesMutex);
    EXPECT_EQ(m_frames.back().width, 50);
    EXPECT_EQ(m_frames.back().height, 31);
    EXPECT_EQ(std::pair(frameQueue().width(), frameQueue().height()), std::pair(50, 31));
}

TEST_F(WorkersTest, AdvanceIsIgnoredWhileNothingIsReady) {
    startStudio();
    runState().scriptReady.clear();
    m_platform.postMessage(WindowMessage{WindowId::Trace, MSG_ADVANCE, 0, 0});
    settle();
    EXPECT_TRUE(runState().held());
    EXPECT_EQ(frameCount(), 1u);
}

TEST_F(WorkersTest, ExitEndsBothWorkersCallsUdShutdownAndFreesTheBuffers) {
    const std::string marker = m_dir.file("shut-down");
    const std::string script = "#include <stdio.h>\n"
                               "void udShutdown(void) { fclose(fopen(\"" +
                               marker + "\", \"w\")); }\n";
    std::strcpy(projectFiles().scriptText.get(), script.c_str());
    startStudio();
    EXPECT_FALSE(std::filesystem::exists(marker));
    EXPECT_TRUE(runExitPath());
    EXPECT_TRUE(std::filesystem::exists(marker));
    EXPECT_FALSE(renderThreadRunning());
    EXPECT_FALSE(postThreadRunning());
    EXPECT_EQ(frameQueue().target(), nullptr);
    EXPECT_EQ(projectFiles().scriptText, nullptr);
}

TEST_F(WorkersTest, ExitCompletesWithAPostProcessingThreadStuckInACallback) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> entered{false};
    setFrameSink([&](const FrameView&) {
        entered = true;
        released.wait();
    });
    startWorkers();
    runState().compileRequest.set();
    runState().resizeRequest.set();
    ASSERT_TRUE(pumpUntil([&] { return entered.load(); }));
    EXPECT_FALSE(stopFlightAndCheckParked()); // a frame is in flight

    const auto start = Clock::now();
    EXPECT_FALSE(runExitPath());
    const auto elapsedMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    EXPECT_LT(elapsedMs, 2 * timeouts().workerExitMs + 1500);
    EXPECT_FALSE(renderThreadRunning());
    // The buffers stay: the stuck thread may still read them.
    EXPECT_NE(frameQueue().target(), nullptr);

    release.set_value();
    EXPECT_TRUE(waitUntil([] { return !postThreadRunning(); }, 5000));
}

TEST_F(WorkersTest, ExitCompletesWithTheRenderThreadStuckInAMessageBox) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> asked{false};
    m_platform.setResponder([&](const HeadlessPlatform::MessageBoxRecord&) {
        asked = true;
        released.wait();
        return MsgAnswer::Ok;
    });
    projectFiles().imageWidth = 0; // cannot be allocated: the render thread reports it
    startWorkers();
    runState().resizeRequest.set();
    ASSERT_TRUE(pumpUntil([&] { return asked.load(); }));

    EXPECT_FALSE(runExitPath());
    EXPECT_FALSE(postThreadRunning());
    release.set_value();
    EXPECT_TRUE(waitUntil([] { return !renderThreadRunning(); }, 5000));
    m_platform.setResponder(nullptr);
}

// udPre loops until udef[4] is 0 again, with the watchdog off.
TEST_F(WorkersTest, ExitWithTheRenderThreadStuckInTheScriptStillCompletesTheCapture) {
    ProjectFiles& files = projectFiles();
    CameraFlight& camera = cameraFlight();
    CaptureState& capture = captureState();
    const std::string marker = m_dir.file("shut-down");
    const std::string script = "#include <stdio.h>\n"
                               "static volatile float *u;\n"
                               "void udSetup(void *w, float *udef, float *a, int *f, char *l)"
                               " { u = udef; }\n"
                               "void udPre(unsigned char *b, float *f)"
                               " { while (u[4] != 0) u[2] = 1; }\n"
                               "void udShutdown(void) { fclose(fopen(\"" +
                               marker + "\", \"w\")); }\n";
    std::strcpy(files.scriptText.get(), script.c_str());
    files.scriptTimeoutSeconds = 0;
    capture.useMotionBlur = 0;
    setCompressionChooser([](CompressionChoice& choice) {
        choice = CompressionChoice{VideoCodec::Raw};
        return true;
    });
    startStudio();
    const std::string avi = m_dir.file("stuck.AVI");
    theCapture().start(WindowId::Trace, avi.c_str(), files.imageWidth, files.imageHeight, 25, 0,
                       "");
    ASSERT_TRUE(theCapture().isActive());
    capture.setCapturing(true);
    camera.flightMode = FLIGHT_FREE;
    m_platform.postMessage(WindowMessage{WindowId::Trace, MSG_ADVANCE, 0, 0});
    ASSERT_TRUE(pumpUntil([&] { return frameCount() >= 4; }));
    cameraView().udef[4] = 1;
    ASSERT_TRUE(pumpUntil([&] { return cameraView().udef[2] == 1 && !frameQueue().inFlight(); }));
    const size_t captured = frameCount() - 1; // the first frame came before the capture

    EXPECT_FALSE(runExitPath());
    EXPECT_TRUE(renderThreadRunning());
    EXPECT_TRUE(std::filesystem::exists(marker));
    EXPECT_FALSE(theCapture().isActive());
    EXPECT_EQ(test::probeVideo(avi), "rawvideo,63,37,25/1," + std::to_string(captured));
    // The buffers stay: the stuck thread draws into them.
    EXPECT_NE(frameQueue().target(), nullptr);

    camera.udef[4] = 0;
    EXPECT_TRUE(waitUntil([] { return !renderThreadRunning(); }, 5000));
    setCompressionChooser(nullptr);
    files.scriptTimeoutSeconds = 5;
}

TEST_F(WorkersTest, AFailedAllocationLeavesNoBufferToPaint) {
    ProjectFiles& files = projectFiles();
    files.imageWidth = -4;
    startStudioWithoutBuffers();
    const auto boxes = m_platform.messageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Out of memory. Choose a smaller size.");
    EXPECT_EQ(boxes[0].caption, "Memory Error.");
    EXPECT_FALSE(runState().buffersReady);
    EXPECT_EQ(frameQueue().target(), nullptr);
    EXPECT_EQ(displayed(), nullptr);
}

// udef[2] is set while the script's udPostFrame is inside, and it stays
// there until the test sets udef[3]; udef[4] switches that on.
const char* const LINGERING_POST_FRAME = R"(
#include <unistd.h>
static float *u;
void udSetup(void *w, float *udef, float *a, int *f, char *l) { u = udef; }
void udPre(unsigned char *b, float *f) {}
void udPostFrame(unsigned char *p) {
    if (u[4] == 0) return;
    u[2] = 1;
    while (u[3] == 0) usleep(1000);
    p[0] = 1;
}
)";

TEST_F(WorkersTest, ACompileWaitsUntilThePostProcessingThreadHasLeftTheScript) {
    ProjectFiles& files = projectFiles();
    CameraFlight& camera = cameraFlight();
    std::strcpy(files.scriptText.get(), LINGERING_POST_FRAME);
    startStudio();
    camera.udef[4] = 1;
    m_platform.postMessage(WindowMessage{WindowId::Trace, MSG_ADVANCE, 0, 0});
    ASSERT_TRUE(pumpUntil([&] { return camera.udef[2] == 1; }));

    std::strcpy(files.scriptText.get(), "void udPre(unsigned char *b, float *f) {}\n"
                                        "void udPost(void) {}\n");
    run();
    ASSERT_TRUE(pumpUntil([&] { return !runState().compileRequest; }));
    EXPECT_FALSE(runState().scriptReady); // the compile waits for the old udPostFrame
    cameraView().udef[3] = 1;
    ASSERT_TRUE(pumpUntil([&] { return runState().scriptReady && frameCount() >= 3 && parked(); }));
    EXPECT_TRUE(m_platform.messageBoxes().empty());
    EXPECT_NE(entryPoint(UD_PRE), nullptr);
    EXPECT_NE(entryPoint(UD_POST), nullptr);
}

TEST_F(WorkersTest, AResizePendingAtExitLeavesTheFrameBeingFinishedAlone) {
    ProjectFiles& files = projectFiles();
    std::strcpy(files.scriptText.get(), LINGERING_POST_FRAME);
    startStudio();
    uint8_t* const inUse = frameQueue().target(); // the frame the advance draws
    cameraView().udef[4] = 1;
    m_platform.postMessage(WindowMessage{WindowId::Trace, MSG_ADVANCE, 0, 0});
    ASSERT_TRUE(pumpUntil([&] { return cameraView().udef[2] == 1; }));

    // The allocation waits for the frame; then the exit path stops the workers.
    runState().resizeRequest.set();
    ASSERT_TRUE(pumpUntil([&] { return !runState().resizeRequest; }));
    pumpUntil([] { return false; }, 100);
    runState().moveTo(RunPhase::ShuttingDown);
    ASSERT_TRUE(waitUntil([] { return !renderThreadRunning(); }, 5000));
    // Still allocated and still holding the picture (a new buffer is zeroed).
    ASSERT_NE(frameQueue().blockOf(inUse), nullptr);
    EXPECT_TRUE(std::any_of(inUse, inUse + 63 * 37 * 3, [](uint8_t b) { return b != 0; }));
    cameraView().udef[3] = 1;
    EXPECT_TRUE(waitUntil([] { return !frameQueue().inFlight(); }, 5000));
    EXPECT_TRUE(runExitPath()); // both threads have ended: this joins them
}

TEST_F(WorkersTest, ThePictureOnlyEverShowsFinishedFrames) {
    ProjectFiles& files = projectFiles();
    CameraFlight& camera = cameraFlight();
    // Pass 0 red, pass 1 blue: every finished frame is their merge.
    std::strcpy(files.layers[0].vertexText.get(), "void main() { gl_Position = gl_Vertex; }\n");
    std::strcpy(files.layers[0].fragmentText.get(),
                "uniform int superSample;\n"
                "void main() { gl_FragColor = superSample == 1 ? vec4(0.0, 0.0, 1.0, 1.0)\n"
                "                                              : vec4(1.0, 0.0, 0.0, 1.0); }\n");
    // The debug output page is shown while the script writes to it.
    std::strcpy(files.scriptText.get(), "static char *line;\n"
                                        "void udSetup(void *w, float *u, float *a, int *f, char *l)"
                                        " { line = l; }\n"
                                        "void udPre(unsigned char *b, float *f)"
                                        " { line[0] = 'x'; line[1] = 0; }\n");
    viewFlags().debugShown = true;
    files.superSample = 1;
    files.despeckle = 1;
    startStudio();
    camera.flightMode = FLIGHT_FREE;
    m_platform.postMessage(WindowMessage{WindowId::Trace, MSG_ADVANCE, 0, 0});
    int painted = 0, halfMade = 0;
    const size_t centre = (18 * 63 + 31) * 3;
    pumpUntil(
        [&] {
            frameQueue().withDisplayed([&](const FrameView& view) {
                if (view.pixels) {
                    ++painted;
                    const uint8_t* p = view.pixels + centre;
                    if (p[0] != 127 || p[1] != 0 || p[2] != 127) ++halfMade;
                }
            });
            return frameCount() >= 150;
        },
        60000);
    camera.flightMode = FLIGHT_STOPPED;
    EXPECT_GT(painted, 0);
    EXPECT_EQ(halfMade, 0);
    EXPECT_GE(frameCount(), 150u);
}

} // namespace
} // namespace vortigo
