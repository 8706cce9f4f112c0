#include "TempDir.h"
#include "core/CameraFlight.h"
#include "core/CaptureState.h"
#include "core/ProjectFiles.h"
#include "core/ProjectState.h"
#include "core/RunState.h"
#include "core/ScriptShared.h"
#include "core/ThreadRole.h"
#include "persist/Options.h"
#include "persist/ProjectDefaults.h"
#include "platform/HeadlessPlatform.h"
#include "platform/ProgramDir.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <thread>

namespace vortigo {
namespace {

class ProjectStateTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::copyDefaultTexts(m_dir);
        setProgramDirectory(m_dir.path());
    }
    HeadlessPlatform m_platform;
    ScopedPlatform m_installed{&m_platform};
    test::TempDir m_dir;
};

TEST_F(ProjectStateTest, StartsWithTheDefaultsOfANewProject) {
    ASSERT_TRUE(initialiseProjectState());
    ProjectFiles& files = projectFiles();
    const CameraFlight& camera = cameraView();
    const CaptureState& capture = captureView();
    const WindowLayout editor = readWindowLayout(optionsPath());
    EXPECT_EQ(files.imageWidth, 640);
    EXPECT_EQ(files.imageHeight, 480);
    EXPECT_EQ(capture.aviFps, 25);
    EXPECT_FLOAT_EQ(files.dofScale, 2.0f);
    EXPECT_FLOAT_EQ(files.dofOffset, 0.1f);
    EXPECT_FLOAT_EQ(files.maxDepth, 10.0f);
    EXPECT_EQ(files.maxUdef, 32);
    EXPECT_STREQ(editor.fontFamily, "Verdana");
    EXPECT_EQ(editor.textColour.green, 225);
    EXPECT_EQ(editor.backgroundColour.red, 64);

    EXPECT_FLOAT_EQ(camera.xCenter, 0.0f);
    EXPECT_FLOAT_EQ(camera.yCenter, 0.0001f);
    EXPECT_FLOAT_EQ(camera.zLens, -3.0f);
    EXPECT_FLOAT_EQ(camera.animTime, 0.0f);
    EXPECT_EQ(camera.cameraQuat[3], 1.0f);
    EXPECT_EQ(camera.flightMode, FLIGHT_STOPPED);
    runState().moveTo(RunPhase::Drawing);
    resetToDefaults(); // a released render thread is held by the reset
    EXPECT_EQ(runState().phase(), RunPhase::Parked);
    EXPECT_FALSE(runState().scriptReady);
    EXPECT_FALSE(runState().buffersReady);

    EXPECT_EQ(std::string(files.layers[0].vertexFile), m_dir.file("default_vertex_shader.vert"));
    EXPECT_EQ(std::string(files.projectFile), m_dir.file("default.vort"));
    EXPECT_EQ(std::string(capture.outputFile), m_dir.file("mandelbrot.avi"));
    EXPECT_TRUE(files.layers[0].active());
    EXPECT_NE(std::string(files.scriptText.get()).find("udSetup"), std::string::npos);
    for (int i = 1; i < LAYER_COUNT; ++i)
        EXPECT_FALSE(files.layers[i].active());
    EXPECT_TRUE(m_platform.messageBoxes().empty());
}

TEST_F(ProjectStateTest, ResetWritesOneFlightRecordOfTheResetCamera) {
    ASSERT_TRUE(initialiseProjectState());
    CameraFlight& camera = cameraFlight();
    camera.udef[0] = 1.5f;
    camera.udef[3] = -2.0f;
    camera.cameraQuat[0] = 0.6f;
    camera.cameraQuat[3] = 0.8f;
    camera.flightHead = 600;
    camera.flightStart = 48;
    resetToDefaults();

    EXPECT_EQ(camera.flightStart, 0);
    EXPECT_EQ(camera.flightHead, 12);
    EXPECT_EQ(camera.flightEnd, 12);
    const float* record = camera.flightBuffer.get();
    const float expected[12] = {0, 0.0001f, -3.0f, 0, 0, 0, 0, 1, 1.5f, 0, 0, -2.0f};
    for (int i = 0; i < 12; ++i)
        EXPECT_FLOAT_EQ(record[i], expected[i]) << "float " << i;
}

TEST_F(ProjectStateTest, ResetKeepsUdefRotationAndTheFirstLayersEditorState) {
    ASSERT_TRUE(initialiseProjectState());
    ProjectFiles& files = projectFiles();
    CameraFlight& camera = cameraFlight();
    CaptureState& capture = captureState();
    ScriptShared& blocks = scriptShared();
    camera.udef[5] = 7.0f;
    camera.cameraRotation[1] = 0.25f;
    files.layers[0].fragmentDirty = 1;
    files.layers[0].fragmentTopLine = 42;
    files.layers[2].fragmentTopLine = 9;
    std::strcpy(files.layers[2].vertexText.get(), "void main(){}");
    std::strcpy(files.layers[2].fragmentText.get(), "void main(){}");
    std::strcpy(files.layers[2].backgroundFile, "/x/y.jpg");
    files.layers[2].vertexDirty = 1;
    camera.animTime = 12.0f;
    capture.setCapturing(true);
    camera.flightMode = FLIGHT_FREE;
    std::strcpy(blocks.debugText.get(), "old debug text");

    resetToDefaults();

    EXPECT_FLOAT_EQ(camera.udef[5], 7.0f);
    EXPECT_FLOAT_EQ(camera.cameraRotation[1], 0.25f);
    EXPECT_EQ(files.layers[0].fragmentDirty, 1);
    EXPECT_EQ(files.layers[0].fragmentTopLine, 42);
    EXPECT_FALSE(files.layers[2].active());
    EXPECT_EQ(files.layers[2].vertexDirty, 0);
    EXPECT_EQ(files.layers[2].fragmentTopLine, 0);
    EXPECT_STREQ(files.layers[2].backgroundFile, "");
    EXPECT_FLOAT_EQ(camera.animTime, 0.0f);
    EXPECT_EQ(capture.capturing(), 0);
    EXPECT_EQ(camera.flightMode, FLIGHT_STOPPED);
    EXPECT_STREQ(blocks.debugText.get(), "");
}

TEST_F(ProjectStateTest, MissingVertexShaderGivesOneFileErrorAndAnInactiveLayer) {
    std::filesystem::remove(m_dir.file("default_vertex_shader.vert"));
    ASSERT_TRUE(initialiseProjectState());
    const auto boxes = m_platform.messageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "File Error");
    EXPECT_EQ(boxes[0].text, "There has been an error opening the text file: " +
                                 m_dir.file("default_vertex_shader.vert"));
    EXPECT_EQ(boxes[0].owner, WindowId::None);
    EXPECT_EQ(boxes[0].icon, MsgIcon::Error);
    EXPECT_STREQ(projectFiles().layers[0].vertexText.get(), "");
    EXPECT_FALSE(projectFiles().layers[0].active());
}

TEST_F(ProjectStateTest, FieldsSharedWithTheScriptLiveInItsBlocks) {
    ASSERT_TRUE(initialiseProjectState());
    ProjectFiles& files = projectFiles();
    CameraFlight& camera = cameraFlight();
    CaptureState& capture = captureState();
    ScriptShared& blocks = scriptShared();
    files.imageWidth = 333;
    capture.setCapturing(true);
    camera.animTime = 4.5f;
    files.maxDepth = 7.0f;
    camera.keyDown['A' - KEY_FIRST] = 1;
    *files.layers[3].videoFrameCounter = 17;
    const auto* words = reinterpret_cast<const int32_t*>(&blocks.frameInfo);
    const auto* animWords = reinterpret_cast<const float*>(&blocks.animInfo);
    EXPECT_EQ(words[0], 333);
    EXPECT_EQ(words[28], 1);
    EXPECT_EQ(words['A'], 1);
    EXPECT_EQ(words[23], 17);
    EXPECT_FLOAT_EQ(animWords[0], 4.5f);
    EXPECT_FLOAT_EQ(animWords[4], 7.0f);
    // A write by the script is the field's new value.
    const_cast<int32_t*>(words)[3] = 24;
    EXPECT_EQ(camera.flightHead, 24);
}

// udef is allocated once; a reset reading a larger MaxUdef must not make the
// renderer read past the allocation.
TEST_F(ProjectStateTest, ResetKeepsTheAllocatedUdefCount) {
    ASSERT_TRUE(initialiseProjectState());
    m_dir.write("VORTOptions.ini", "[VORT]\nMaxUdef=4096\nWidth=800\n");
    resetToDefaults();
    EXPECT_EQ(projectFiles().maxUdef, 32);
    EXPECT_EQ(projectFiles().imageWidth, 800);
}

std::string g_violation;

// The groups' writer handles stop a writer on the wrong thread and say which
// thread may write; readers and the owners pass.
TEST(ThreadOwnership, AWriterOnTheWrongThreadIsCaughtWithItsOwnerNamed) {
#ifdef NDEBUG
    GTEST_SKIP() << "the owner checks run in debug builds";
#endif
    g_violation.clear();
    const OwnerViolationHandler before =
        setOwnerViolationHandler([](const char* message) { g_violation = message; });
    cameraFlight(); // the test thread steps the flight
    captureState();
    EXPECT_EQ(g_violation, "");
    std::thread([] {
        registerThreadRole(ThreadRole::PostProcessing);
        cameraView(); // reading is any thread's right
        EXPECT_EQ(g_violation, "");
        cameraFlight();
    }).join();
    EXPECT_EQ(g_violation, "cameraFlight written from the post-processing thread; only the motion "
                           "thread (the user-interface thread, or the batch session's render "
                           "thread) may write it");
    std::thread([] {
        registerThreadRole(ThreadRole::Render);
        captureState();
    }).join();
    EXPECT_EQ(g_violation,
              "captureState written from the render thread; only the user-interface thread may "
              "write it");
    setOwnerViolationHandler(before);
}

} // namespace
} // namespace vortigo
