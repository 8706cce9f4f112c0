// The Output dialog driven through its controls on Qt's offscreen platform:
// how it shows the fields, its refusals, OK and Save as Defaults.
#include "core/CameraFlight.h"
#include "core/CaptureState.h"
#include "core/ProjectFiles.h"
#include "core/RunState.h"
#include "persist/Options.h"
#include "persist/ProjectFile.h"
#include "script/ScriptFixture.h"
#include "ui/FileFlows.h"
#include "ui/OutputDialog.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <fstream>
#include <sstream>

namespace vortigo {
namespace {

class OutputDialogTest : public test::ScriptFixture {
  protected:
    void SetUp() override {
        test::ScriptFixture::SetUp();
        cameraView().flightMode = FLIGHT_FREE;
        m_dialog = std::make_unique<OutputDialog>(nullptr);
    }
    void TearDown() override {
        setFileDialogHook(nullptr);
        m_dialog.reset();
        test::ScriptFixture::TearDown();
    }
    const OutputDialog::Controls& controls() const { return m_dialog->controls(); }
    void reopen() { m_dialog = std::make_unique<OutputDialog>(nullptr); }

    std::unique_ptr<OutputDialog> m_dialog;
};

TEST_F(OutputDialogTest, OpeningStopsTheCameraAndShowsEveryField) {
    EXPECT_EQ(cameraView().flightMode, FLIGHT_STOPPED);
    EXPECT_EQ(controls().width->text(), "640");
    EXPECT_EQ(controls().fps->text(), "25");
    EXPECT_EQ(controls().dofScale->text(), "2.0000");
    EXPECT_EQ(controls().dofOffset->text(), "0.1000");
    EXPECT_EQ(controls().acceleration->text(), "0.00050");
    EXPECT_EQ(controls().file->text().toStdString(), captureView().outputFile);
    EXPECT_FALSE(controls().dof->isChecked());
}

TEST_F(OutputDialogTest, SizesAndRatesThatAreNotPositiveAreRefused) {
    ProjectFiles& files = projectFiles();
    CaptureState& capture = captureState();
    runState().buffersReady.set();
    capture.setCapturing(true);
    for (const char* bad : {"0", "-5", "abc", "99999999999"}) {
        m_platform.clearRecords();
        controls().width->setText(QString::fromLatin1(bad));
        controls().dofScale->setText("7");
        controls().ok->click();
        EXPECT_EQ(boxTexts(), std::vector<std::string>{"No negative values please."}) << bad;
        EXPECT_EQ(m_platform.messageBoxes()[0].caption, "Entry Error");
        EXPECT_NE(m_dialog->result(), QDialog::Accepted);
    }
    EXPECT_EQ(files.imageWidth, 640);
    EXPECT_EQ(files.dofScale, 2.0f);
    EXPECT_TRUE(runState().buffersReady);
    // The capture is finished all the same, and Cancel changes nothing more.
    EXPECT_EQ(capture.capturing(), 0);
    controls().cancel->click();
    EXPECT_EQ(m_dialog->result(), QDialog::Rejected);
    EXPECT_EQ(files.imageWidth, 640);
}

// A name cut to fit would name another file: a clip.avi cut short becomes
// TGA stills. The field and the file dialog refuse it whole instead.
TEST_F(OutputDialogTest, ANameThatDoesNotFitIsRefusedNotCut) {
    CaptureState& capture = captureState();
    storePath(capture.outputFile, "/clips/kept.avi");
    const std::string tooLong = "/clips/" + std::string(260, 'n') + ".avi";
    controls().file->setText(QString::fromStdString(tooLong));
    controls().ok->click();
    EXPECT_EQ(boxTexts(),
              std::vector<std::string>{"The File name is 271 bytes long; at most 259 bytes fit."});
    EXPECT_NE(m_dialog->result(), QDialog::Accepted);
    EXPECT_STREQ(capture.outputFile, "/clips/kept.avi");

    m_platform.clearRecords();
    setFileDialogHook([&](const FileDialogRequest&) { return tooLong; });
    controls().audio->setText("/music/keep.wav");
    controls().audioBrowse->click();
    EXPECT_EQ(controls().audio->text(), "/music/keep.wav");
    ASSERT_EQ(m_platform.messageBoxes().size(), 1u);
    EXPECT_EQ(m_platform.messageBoxes()[0].caption, "File Error");
}

TEST_F(OutputDialogTest, OkStoresEveryValueAndAsksForNewBuffers) {
    ProjectFiles& files = projectFiles();
    const CameraFlight& camera = cameraView();
    const CaptureState& capture = captureView();
    runState().buffersReady.set();
    controls().width->setText("320");
    controls().height->setText(" 200 ");
    controls().fps->setText("30");
    controls().maxAviFrames->setText("many");
    controls().dofScale->setText("1.23456");
    controls().maxDepth->setText("12.5xyz");
    controls().acceleration->setText("0.001");
    controls().audio->setText("/music/track.wav");
    controls().dof->setChecked(true);
    controls().despeckle->setChecked(true);
    controls().ok->click();
    EXPECT_EQ(m_dialog->result(), QDialog::Accepted);
    EXPECT_EQ(std::tuple(files.imageWidth, files.imageHeight, capture.aviFps, capture.maxAviFrames),
              std::tuple(320, 200, 30, 0));
    EXPECT_EQ(
        std::tuple(files.dofEnabled, files.despeckle, files.superSample, capture.useMotionBlur),
        std::tuple(1, 1, 0, 0));
    EXPECT_EQ(files.dofScale, 1.23456f);
    EXPECT_EQ(files.maxDepth, 12.5f);
    EXPECT_EQ(camera.flightAcceleration, 0.001f);
    EXPECT_STREQ(capture.audioFile, "/music/track.wav");
    EXPECT_FALSE(runState().buffersReady);
    EXPECT_TRUE(runState().resizeRequest);

    reopen();
    EXPECT_EQ(controls().dofScale->text(), "1.2346");
    EXPECT_EQ(controls().acceleration->text(), "0.00100");
    EXPECT_EQ(controls().height->text(), "200");
}

TEST_F(OutputDialogTest, SaveAsDefaultsWritesTheOptionsFileOnlyAndBeeps) {
    m_dir.write("VORTOptions.ini", "[VORT]\nFontFamily=Courier New\nWidth=1\n");
    controls().maxDepth->setText("12.5");
    controls().acceleration->setText("0.001");
    controls().width->setText("0"); // not checked here
    controls().saveDefaults->click();
    std::ifstream in(m_dir.file("VORTOptions.ini"));
    std::stringstream text;
    text << in.rdbuf();
    for (const char* line : {"FontFamily=Courier New\n", "Width=0\n", "MaxDepth=12.500000\n",
                             "FlightAcceleration=0.001000\n", "DOFScale=2.000000\n", "AviFPS=25\n"})
        EXPECT_NE(text.str().find(line), std::string::npos) << line;
    ASSERT_EQ(m_platform.beeps().size(), 1u);
    EXPECT_EQ(m_platform.beeps()[0].hz, 350);
    EXPECT_EQ(m_platform.beeps()[0].ms, 250);
    EXPECT_EQ(projectFiles().maxDepth, 10.0f);
    EXPECT_NE(m_dialog->result(), QDialog::Accepted);
}

TEST_F(OutputDialogTest, TheBrowseButtonsFillTheirFields) {
    std::vector<FileDialogRequest> requests;
    setFileDialogHook([&](const FileDialogRequest& request) {
        requests.push_back(request);
        return request.title == "Output File" ? std::string("/clips/new.avi") : std::string();
    });
    controls().file->setText("/clips/old.avi");
    controls().audio->setText("/music/keep.wav");
    controls().fileBrowse->click();
    controls().audioBrowse->click();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(std::tuple(requests[0].filterName, requests[0].patterns, requests[0].defaultExtension,
                         requests[0].startPath),
              std::tuple("Output Files", "*.tga;*.bmp;*.avi", "tga", "/clips/old.avi"));
    EXPECT_EQ(std::tuple(requests[1].filterName, requests[1].patterns, requests[1].title,
                         requests[1].defaultExtension),
              std::tuple("Wave Files", "*.wav", "Wave File", "wav"));
    EXPECT_EQ(controls().file->text(), "/clips/new.avi");
    EXPECT_EQ(controls().audio->text(), "/music/keep.wav"); // cancelled
}

} // namespace
} // namespace vortigo
