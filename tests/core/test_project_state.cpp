#include "TempDir.h"
#include "core/ProjectState.h"
#include "core/RunState.h"
#include "persist/ProjectDefaults.h"
#include "platform/HeadlessPlatform.h"
#include "platform/ProgramDir.h"

#include <cstring>
#include <gtest/gtest.h>

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
    ProjectState& s = state();
    EXPECT_EQ(s.imageWidth, 640);
    EXPECT_EQ(s.imageHeight, 480);
    EXPECT_EQ(s.aviFps, 25);
    EXPECT_FLOAT_EQ(s.dofScale, 2.0f);
    EXPECT_FLOAT_EQ(s.dofOffset, 0.1f);
    EXPECT_FLOAT_EQ(s.maxDepth, 10.0f);
    EXPECT_EQ(s.maxUdef, 32);
    EXPECT_STREQ(s.fontFamily, "Verdana");
    EXPECT_EQ(s.textColour.green, 225);
    EXPECT_EQ(s.backgroundColour.red, 64);

    EXPECT_FLOAT_EQ(s.xCenter, 0.0f);
    EXPECT_FLOAT_EQ(s.yCenter, 0.0001f);
    EXPECT_FLOAT_EQ(s.zLens, -3.0f);
    EXPECT_FLOAT_EQ(s.animTime, 0.0f);
    EXPECT_EQ(s.cameraQuat[3], 1.0f);
    EXPECT_EQ(s.flightMode, FLIGHT_STOPPED);
    runState().moveTo(RunPhase::Drawing);
    resetToDefaults(); // a released render thread is held by the reset
    EXPECT_EQ(runState().phase(), RunPhase::Parked);
    EXPECT_FALSE(runState().scriptReady);
    EXPECT_FALSE(runState().buffersReady);
    EXPECT_EQ(s.currentKind, KIND_FRAGMENT);
    EXPECT_EQ(s.currentLayer, 0);
    EXPECT_EQ(titleOfKind(s.currentKind), "Fragment Shader Layer 1");

    EXPECT_EQ(std::string(s.layers[0].vertexFile), m_dir.file("default_vertex_shader.vert"));
    EXPECT_EQ(std::string(s.projectFile), m_dir.file("default.vort"));
    EXPECT_EQ(std::string(s.outputFile), m_dir.file("mandelbrot.avi"));
    EXPECT_TRUE(s.layers[0].active());
    EXPECT_NE(std::string(s.scriptText.get()).find("udSetup"), std::string::npos);
    for (int i = 1; i < LAYER_COUNT; ++i)
        EXPECT_FALSE(s.layers[i].active());
    EXPECT_TRUE(m_platform.messageBoxes().empty());
}

TEST_F(ProjectStateTest, ResetWritesOneFlightRecordOfTheResetCamera) {
    ASSERT_TRUE(initialiseProjectState());
    ProjectState& s = state();
    s.udef[0] = 1.5f;
    s.udef[3] = -2.0f;
    s.cameraQuat[0] = 0.6f;
    s.cameraQuat[3] = 0.8f;
    s.flightHead = 600;
    s.flightStart = 48;
    resetToDefaults();

    EXPECT_EQ(s.flightStart, 0);
    EXPECT_EQ(s.flightHead, 12);
    EXPECT_EQ(s.flightEnd, 12);
    const float* record = s.flightBuffer.get();
    const float expected[12] = {0, 0.0001f, -3.0f, 0, 0, 0, 0, 1, 1.5f, 0, 0, -2.0f};
    for (int i = 0; i < 12; ++i)
        EXPECT_FLOAT_EQ(record[i], expected[i]) << "float " << i;
}

TEST_F(ProjectStateTest, ResetKeepsUdefRotationAndTheFirstLayersEditorState) {
    ASSERT_TRUE(initialiseProjectState());
    ProjectState& s = state();
    s.udef[5] = 7.0f;
    s.cameraRotation[1] = 0.25f;
    s.layers[0].fragmentDirty = 1;
    s.layers[0].fragmentTopLine = 42;
    s.layers[2].fragmentTopLine = 9;
    std::strcpy(s.layers[2].vertexText.get(), "void main(){}");
    std::strcpy(s.layers[2].fragmentText.get(), "void main(){}");
    std::strcpy(s.layers[2].backgroundFile, "/x/y.jpg");
    s.layers[2].vertexDirty = 1;
    s.currentKind = KIND_SCRIPT;
    s.currentLayer = 2;
    s.animTime = 12.0f;
    s.capturing = 1;
    s.flightMode = FLIGHT_FREE;
    std::strcpy(s.debugText.get(), "old debug text");

    resetToDefaults();

    EXPECT_FLOAT_EQ(s.udef[5], 7.0f);
    EXPECT_FLOAT_EQ(s.cameraRotation[1], 0.25f);
    EXPECT_EQ(s.layers[0].fragmentDirty, 1);
    EXPECT_EQ(s.layers[0].fragmentTopLine, 42);
    EXPECT_FALSE(s.layers[2].active());
    EXPECT_EQ(s.layers[2].vertexDirty, 0);
    EXPECT_EQ(s.layers[2].fragmentTopLine, 0);
    EXPECT_STREQ(s.layers[2].backgroundFile, "");
    EXPECT_EQ(s.currentKind, KIND_FRAGMENT);
    EXPECT_EQ(s.currentLayer, 0);
    EXPECT_FLOAT_EQ(s.animTime, 0.0f);
    EXPECT_EQ(s.capturing, 0);
    EXPECT_EQ(s.flightMode, FLIGHT_STOPPED);
    EXPECT_STREQ(s.debugText.get(), "");
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
    EXPECT_STREQ(state().layers[0].vertexText.get(), "");
    EXPECT_FALSE(state().layers[0].active());
}

TEST_F(ProjectStateTest, FieldsSharedWithTheScriptLiveInItsBlocks) {
    ASSERT_TRUE(initialiseProjectState());
    ProjectState& s = state();
    s.imageWidth = 333;
    s.capturing = 1;
    s.animTime = 4.5f;
    s.maxDepth = 7.0f;
    s.keyDown['A' - KEY_FIRST] = 1;
    *s.layers[3].videoFrameCounter = 17;
    const auto* words = reinterpret_cast<const int32_t*>(&s.frameInfo);
    const auto* animWords = reinterpret_cast<const float*>(&s.animInfo);
    EXPECT_EQ(words[0], 333);
    EXPECT_EQ(words[28], 1);
    EXPECT_EQ(words['A'], 1);
    EXPECT_EQ(words[23], 17);
    EXPECT_FLOAT_EQ(animWords[0], 4.5f);
    EXPECT_FLOAT_EQ(animWords[4], 7.0f);
    // A write by the script is the field's new value.
    const_cast<int32_t*>(words)[3] = 24;
    EXPECT_EQ(s.flightHead, 24);
}

// udef is allocated once; a reset reading a larger MaxUdef must not make the
// renderer read past the allocation.
TEST_F(ProjectStateTest, ResetKeepsTheAllocatedUdefCount) {
    ASSERT_TRUE(initialiseProjectState());
    m_dir.write("VORTOptions.ini", "[VORT]\nMaxUdef=4096\nWidth=800\n");
    resetToDefaults();
    EXPECT_EQ(state().maxUdef, 32);
    EXPECT_EQ(state().imageWidth, 800);
}

} // namespace
} // namespace vortigo
