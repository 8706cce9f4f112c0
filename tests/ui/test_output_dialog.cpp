// The Output dialog driven by control identifier on Qt's offscreen platform:
// how it shows the fields, its refusals, OK and Save as Defaults.
#include "core/RunState.h"
#include "persist/Options.h"
#include "persist/ProjectFile.h"
#include "script/ScriptFixture.h"
#include "ui/FileFlows.h"
#include "ui/OutputDialog.h"

#include <QCheckBox>
#include <QLineEdit>
#include <fstream>
#include <sstream>

namespace vortigo {
namespace {

class OutputDialogTest : public test::ScriptFixture {
  protected:
    void SetUp() override {
        test::ScriptFixture::SetUp();
        state().flightMode = FLIGHT_FREE;
        m_dialog = std::make_unique<OutputDialog>(nullptr);
    }
    void TearDown() override {
        setFileDialogHook(nullptr);
        m_dialog.reset();
        test::ScriptFixture::TearDown();
    }
    QLineEdit* edit(int id) const { return static_cast<QLineEdit*>(m_dialog->control(id)); }
    QCheckBox* box(int id) const { return static_cast<QCheckBox*>(m_dialog->control(id)); }
    void reopen() { m_dialog = std::make_unique<OutputDialog>(nullptr); }

    std::unique_ptr<OutputDialog> m_dialog;
};

TEST_F(OutputDialogTest, OpeningStopsTheCameraAndShowsEveryField) {
    EXPECT_EQ(state().flightMode, FLIGHT_STOPPED);
    EXPECT_EQ(edit(IDC_OUTPUT_WIDTH)->text(), "640");
    EXPECT_EQ(edit(IDC_OUTPUT_FPS)->text(), "25");
    EXPECT_EQ(edit(IDC_OUTPUT_DOF_SCALE)->text(), "2.0000");
    EXPECT_EQ(edit(IDC_OUTPUT_DOF_OFFSET)->text(), "0.1000");
    EXPECT_EQ(edit(IDC_OUTPUT_ACCELERATION)->text(), "0.00050");
    EXPECT_EQ(edit(IDC_OUTPUT_FILE)->text().toStdString(), state().outputFile);
    EXPECT_FALSE(box(IDC_OUTPUT_DOF)->isChecked());
}

TEST_F(OutputDialogTest, SizesAndRatesThatAreNotPositiveAreRefused) {
    ProjectState& s = state();
    runState().buffersReady.set();
    s.capturing = 1;
    for (const char* bad : {"0", "-5", "abc", "99999999999"}) {
        m_platform.clearRecords();
        edit(IDC_OUTPUT_WIDTH)->setText(QString::fromLatin1(bad));
        edit(IDC_OUTPUT_DOF_SCALE)->setText("7");
        m_dialog->onCommand(IDC_OUTPUT_OK);
        EXPECT_EQ(boxTexts(), std::vector<std::string>{"No negative values please."}) << bad;
        EXPECT_EQ(m_platform.messageBoxes()[0].caption, "Entry Error");
        EXPECT_NE(m_dialog->result(), QDialog::Accepted);
    }
    EXPECT_EQ(s.imageWidth, 640);
    EXPECT_EQ(s.dofScale, 2.0f);
    EXPECT_TRUE(runState().buffersReady);
    // The capture is finished all the same, and Cancel changes nothing more.
    EXPECT_EQ(s.capturing, 0);
    m_dialog->onCommand(IDC_OUTPUT_CANCEL);
    EXPECT_EQ(m_dialog->result(), QDialog::Rejected);
    EXPECT_EQ(s.imageWidth, 640);
}

// A name cut to fit would name another file: a clip.avi cut short becomes
// TGA stills. The field and the file dialog refuse it whole instead.
TEST_F(OutputDialogTest, ANameThatDoesNotFitIsRefusedNotCut) {
    ProjectState& s = state();
    storePath(s.outputFile, "/clips/kept.avi");
    const std::string tooLong = "/clips/" + std::string(260, 'n') + ".avi";
    edit(IDC_OUTPUT_FILE)->setText(QString::fromStdString(tooLong));
    m_dialog->onCommand(IDC_OUTPUT_OK);
    EXPECT_EQ(boxTexts(),
              std::vector<std::string>{"The File name is 271 bytes long; at most 259 bytes fit."});
    EXPECT_NE(m_dialog->result(), QDialog::Accepted);
    EXPECT_STREQ(s.outputFile, "/clips/kept.avi");

    m_platform.clearRecords();
    setFileDialogHook([&](const FileDialogRequest&) { return tooLong; });
    edit(IDC_OUTPUT_AUDIO)->setText("/music/keep.wav");
    m_dialog->onCommand(IDC_OUTPUT_AUDIO_BROWSE);
    EXPECT_EQ(edit(IDC_OUTPUT_AUDIO)->text(), "/music/keep.wav");
    ASSERT_EQ(m_platform.messageBoxes().size(), 1u);
    EXPECT_EQ(m_platform.messageBoxes()[0].caption, "File Error");
}

TEST_F(OutputDialogTest, OkStoresEveryValueAndAsksForNewBuffers) {
    ProjectState& s = state();
    runState().buffersReady.set();
    edit(IDC_OUTPUT_WIDTH)->setText("320");
    edit(IDC_OUTPUT_HEIGHT)->setText(" 200 ");
    edit(IDC_OUTPUT_FPS)->setText("30");
    edit(IDC_OUTPUT_MAX_AVI_FRAMES)->setText("many");
    edit(IDC_OUTPUT_DOF_SCALE)->setText("1.23456");
    edit(IDC_OUTPUT_MAX_DEPTH)->setText("12.5xyz");
    edit(IDC_OUTPUT_ACCELERATION)->setText("0.001");
    edit(IDC_OUTPUT_AUDIO)->setText("/music/track.wav");
    box(IDC_OUTPUT_DOF)->setChecked(true);
    box(IDC_OUTPUT_DESPECKLE)->setChecked(true);
    m_dialog->onCommand(IDC_OUTPUT_OK);
    EXPECT_EQ(m_dialog->result(), QDialog::Accepted);
    EXPECT_EQ(std::tuple(s.imageWidth, s.imageHeight, s.aviFps, s.maxAviFrames),
              std::tuple(320, 200, 30, 0));
    EXPECT_EQ(std::tuple(s.dofEnabled, s.despeckle, s.superSample, s.useMotionBlur),
              std::tuple(1, 1, 0, 0));
    EXPECT_EQ(s.dofScale, 1.23456f);
    EXPECT_EQ(s.maxDepth, 12.5f);
    EXPECT_EQ(s.flightAcceleration, 0.001f);
    EXPECT_STREQ(s.audioFile, "/music/track.wav");
    EXPECT_FALSE(runState().buffersReady);
    EXPECT_TRUE(runState().resizeRequest);

    reopen();
    EXPECT_EQ(edit(IDC_OUTPUT_DOF_SCALE)->text(), "1.2346");
    EXPECT_EQ(edit(IDC_OUTPUT_ACCELERATION)->text(), "0.00100");
    EXPECT_EQ(edit(IDC_OUTPUT_HEIGHT)->text(), "200");
}

TEST_F(OutputDialogTest, SaveAsDefaultsWritesTheOptionsFileOnlyAndBeeps) {
    m_dir.write("VORTOptions.ini", "[VORT]\nFontFamily=Courier New\nWidth=1\n");
    edit(IDC_OUTPUT_MAX_DEPTH)->setText("12.5");
    edit(IDC_OUTPUT_ACCELERATION)->setText("0.001");
    edit(IDC_OUTPUT_WIDTH)->setText("0"); // not checked here
    m_dialog->onCommand(IDC_OUTPUT_SAVE_DEFAULTS);
    std::ifstream in(m_dir.file("VORTOptions.ini"));
    std::stringstream text;
    text << in.rdbuf();
    for (const char* line : {"FontFamily=Courier New\n", "Width=0\n", "MaxDepth=12.500000\n",
                             "FlightAcceleration=0.001000\n", "DOFScale=2.000000\n", "AviFPS=25\n"})
        EXPECT_NE(text.str().find(line), std::string::npos) << line;
    ASSERT_EQ(m_platform.beeps().size(), 1u);
    EXPECT_EQ(m_platform.beeps()[0].hz, 350);
    EXPECT_EQ(m_platform.beeps()[0].ms, 250);
    EXPECT_EQ(state().maxDepth, 10.0f);
    EXPECT_NE(m_dialog->result(), QDialog::Accepted);
}

TEST_F(OutputDialogTest, TheBrowseButtonsFillTheirFields) {
    std::vector<FileDialogRequest> requests;
    setFileDialogHook([&](const FileDialogRequest& request) {
        requests.push_back(request);
        return request.title == "Output File" ? std::string("/clips/new.avi") : std::string();
    });
    edit(IDC_OUTPUT_FILE)->setText("/clips/old.avi");
    edit(IDC_OUTPUT_AUDIO)->setText("/music/keep.wav");
    m_dialog->onCommand(IDC_OUTPUT_FILE_BROWSE);
    m_dialog->onCommand(IDC_OUTPUT_AUDIO_BROWSE);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(std::tuple(requests[0].filterName, requests[0].patterns, requests[0].defaultExtension,
                         requests[0].startPath),
              std::tuple("Output Files", "*.tga;*.bmp;*.avi", "tga", "/clips/old.avi"));
    EXPECT_EQ(std::tuple(requests[1].filterName, requests[1].patterns, requests[1].title,
                         requests[1].defaultExtension),
              std::tuple("Wave Files", "*.wav", "Wave File", "wav"));
    EXPECT_EQ(edit(IDC_OUTPUT_FILE)->text(), "/clips/new.avi");
    EXPECT_EQ(edit(IDC_OUTPUT_AUDIO)->text(), "/music/keep.wav"); // cancelled
}

} // namespace
} // namespace vortigo
