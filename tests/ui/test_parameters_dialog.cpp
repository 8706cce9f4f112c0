// The Parameters dialog driven through its controls: what OK applies, the
// angle tolerance, Zero, Cancel and the frame counters.
#include "core/CameraFlight.h"
#include "core/ProjectFiles.h"
#include "flight/QuatMath.h"
#include "script/ScriptFixture.h"
#include "ui/ParametersDialog.h"

#include <QLineEdit>
#include <QPushButton>
#include <cmath>
#include <memory>
#include <vector>

namespace vortigo {
namespace {

struct LoadCall {
    int layer;
    std::string path;
    int32_t* counter;
};

class ParametersDialogTest : public test::ScriptFixture {
  protected:
    void SetUp() override {
        test::ScriptFixture::SetUp();
        ParametersDialog::setBackgroundLoader([this](int layer, const char* path, int32_t* c) {
            m_loads.push_back({layer, path, c});
            return uint8_t{1};
        });
    }
    void TearDown() override {
        m_dialog.reset();
        ParametersDialog::setBackgroundLoader(nullptr);
        test::ScriptFixture::TearDown();
    }
    ParametersDialog& open() {
        m_dialog = std::make_unique<ParametersDialog>(nullptr);
        return *m_dialog;
    }
    const ParametersDialog::Controls& controls() const { return m_dialog->controls(); }
    static void type(QLineEdit* box, const char* text) { box->setText(QString::fromLatin1(text)); }
    size_t advances() const { return posted(MSG_ADVANCE).size(); }

    std::unique_ptr<ParametersDialog> m_dialog;
    std::vector<LoadCall> m_loads;
};

TEST_F(ParametersDialogTest, OkWithoutEditsKeepsTheOrientationButReloadsTheBackgrounds) {
    ProjectFiles& files = projectFiles();
    CameraFlight& camera = cameraFlight();
    // A turn whose "%.4f" angles would rebuild a slightly different one.
    const Axis axis = {0.6, 0.0, 0.8};
    setCameraQuat(axisAngleQuat(axis, 0.123456789));
    camera.flightRoll = 0.5f;
    const std::array<float, 4> quat = {camera.cameraQuat[0], camera.cameraQuat[1],
                                       camera.cameraQuat[2], camera.cameraQuat[3]};
    std::strcpy(files.layers[0].backgroundFile, "a"); // too short to be a file
    std::strcpy(files.layers[1].backgroundFile, "bg.jpg");
    files.layers[0].backgroundChanged = 1;
    *files.layers[1].videoFrameCounter = 17;

    open();
    EXPECT_EQ(controls().texture[1]->text(), "bg.jpg");
    EXPECT_EQ(controls().frame[1]->text(), "17");
    controls().ok->click();

    EXPECT_EQ(m_dialog->result(), ParametersDialog::RESULT_OK);
    EXPECT_EQ((std::array<float, 4>{camera.cameraQuat[0], camera.cameraQuat[1],
                                    camera.cameraQuat[2], camera.cameraQuat[3]}),
              quat);
    EXPECT_EQ(camera.flightRoll, 0.5f);
    ASSERT_EQ(m_loads.size(), 1u);
    EXPECT_EQ(m_loads[0].layer, 1);
    EXPECT_EQ(m_loads[0].path, "bg.jpg");
    EXPECT_EQ(m_loads[0].counter, files.layers[1].videoFrameCounter);
    EXPECT_EQ(*files.layers[1].videoFrameCounter, 17);
    EXPECT_EQ(files.layers[0].backgroundChanged, 0);
    EXPECT_EQ(files.layers[1].backgroundChanged, 1);
    EXPECT_EQ(advances(), 1u);
}

TEST_F(ParametersDialogTest, ATypedRotationIsAPureTurnAndClearsTheRoll) {
    CameraFlight& camera = cameraFlight();
    camera.flightRoll = 0.7f;
    open();
    type(controls().rotation[0], "0.3");
    type(controls().rotation[1], "0");
    type(controls().rotation[2], "0");
    controls().ok->click();
    EXPECT_FLOAT_EQ(camera.cameraRotation[0], 0.3f);
    EXPECT_EQ(camera.flightRoll, 0.0f);
    // The first axis stays put; the other two turn by 0.3 radians.
    EXPECT_NEAR(camera.cameraMatrix[0][0], 1.0, 1e-6);
    EXPECT_NEAR(camera.cameraMatrix[1][1], std::cos(0.3), 1e-6);
    EXPECT_NEAR(std::fabs(camera.cameraMatrix[1][2]), std::sin(0.3), 1e-6);
    EXPECT_NEAR(std::fabs(camera.cameraMatrix[0][1]) + std::fabs(camera.cameraMatrix[0][2]), 0.0,
                1e-6);
}

TEST_F(ParametersDialogTest, ZeroFillsTheDefaultsWhichOnlyOkApplies) {
    ProjectFiles& files = projectFiles();
    CameraFlight& camera = cameraFlight();
    camera.cameraRotation[0] = 0.5f;
    anglesToOrientation();
    camera.xCenter = 4.0f;
    camera.udef[2] = 9.0f;
    std::strcpy(files.layers[2].backgroundFile, "keep.tga");
    open();
    controls().zero->click();
    EXPECT_EQ(m_dialog->result(), 0); // still open
    EXPECT_EQ(camera.xCenter, 4.0f);
    EXPECT_EQ(controls().eye[2]->text(), "-3.00");
    EXPECT_EQ(controls().texture[2]->text(), "keep.tga");
    controls().ok->click();
    EXPECT_EQ(std::tuple(camera.xCenter, camera.yCenter, camera.zLens),
              std::tuple(0.0f, 0.0001f, -3.0f));
    EXPECT_EQ(std::tuple(camera.animTime, camera.animationSpeed), std::tuple(0.0f, 0.01f));
    EXPECT_EQ(std::tuple(camera.udef[0], camera.udef[1], camera.udef[2], camera.udef[3]),
              std::tuple(0.0f, 0.0f, 0.0f, 0.0f));
    EXPECT_EQ((std::array<float, 4>{camera.cameraQuat[0], camera.cameraQuat[1],
                                    camera.cameraQuat[2], camera.cameraQuat[3]}),
              (std::array<float, 4>{0, 0, 0, 1}));
    EXPECT_STREQ(files.layers[2].backgroundFile, "keep.tga");
}

TEST_F(ParametersDialogTest, CancelAppliesNothingAndCountersReadAsUnsignedNumbers) {
    ProjectFiles& files = projectFiles();
    CameraFlight& camera = cameraFlight();
    camera.xCenter = 1.5f;
    std::strcpy(files.layers[0].backgroundFile, "old.jpg");
    open();
    type(controls().eye[0], "7");
    type(controls().texture[0], "new.jpg");
    controls().cancel->click();
    EXPECT_EQ(m_dialog->result(), ParametersDialog::RESULT_CANCEL);
    EXPECT_EQ(camera.xCenter, 1.5f);
    EXPECT_STREQ(files.layers[0].backgroundFile, "old.jpg");
    EXPECT_TRUE(m_loads.empty());
    EXPECT_EQ(advances(), 0u);

    open();
    type(controls().eye[0], "seven"); // not a number: 0
    type(controls().frame[0], "abc");
    type(controls().frame[1], "  12x");
    type(controls().frame[2], "-5");
    type(controls().frame[3], "99999999999");
    controls().ok->click();
    EXPECT_EQ(camera.xCenter, 0.0f);
    EXPECT_EQ(std::tuple(*files.layers[0].videoFrameCounter, *files.layers[1].videoFrameCounter,
                         *files.layers[2].videoFrameCounter, *files.layers[3].videoFrameCounter),
              std::tuple(0, 12, 0, 0));
}

TEST_F(ParametersDialogTest, ABackgroundNameThatDoesNotFitIsRefusedNotCut) {
    ProjectFiles& files = projectFiles();
    const CameraFlight& camera = cameraView();
    std::strcpy(files.layers[1].backgroundFile, "keep.jpg");
    open();
    const std::string tooLong = "/images/" + std::string(250, 'b') + ".jpg";
    type(controls().texture[1], tooLong.c_str());
    type(controls().eye[0], "7");
    controls().ok->click();
    EXPECT_EQ(boxTexts(),
              std::vector<std::string>{"The background name is longer than 255 bytes: " + tooLong});
    EXPECT_NE(m_dialog->result(), ParametersDialog::RESULT_OK);
    EXPECT_STREQ(files.layers[1].backgroundFile, "keep.jpg");
    EXPECT_NE(camera.xCenter, 7.0f);
    EXPECT_TRUE(m_loads.empty());
}

TEST(ParametersBrowse, StartsInTheFolderOfTheTypedName) {
    EXPECT_EQ(initialFolderOf("/data/img/a.jpg"), "/data/img/");
    EXPECT_EQ(initialFolderOf("C:\\pics\\b.avi"), "C:\\pics\\");
    EXPECT_EQ(initialFolderOf("plain.jpg"), "");
}

} // namespace
} // namespace vortigo
