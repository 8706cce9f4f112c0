// The Output dialog ("Select Output"): frame size and rate, the
// post-processing switches, depth of field, the capture file and its sound
// track, the frame limit per AVI file and the flight acceleration. OK applies
// them once the render thread rests and asks it to reallocate its buffers;
// "Save as Defaults" writes them to the options file without applying them.
//
// Threads: user-interface thread only. Modal, owned by the main window.
#pragma once

#include <QDialog>
#include <map>
#include <string>

namespace vortigo {

// Control identifiers, each also the control's object name.
constexpr int IDC_OUTPUT_OK = 1;
constexpr int IDC_OUTPUT_CANCEL = 2;
constexpr int IDC_OUTPUT_WIDTH = 1001;
constexpr int IDC_OUTPUT_HEIGHT = 1002;
constexpr int IDC_OUTPUT_FILE = 1003;
constexpr int IDC_OUTPUT_FILE_BROWSE = 1004;
constexpr int IDC_OUTPUT_FPS = 1005;
constexpr int IDC_OUTPUT_MOTION_BLUR = 1006;
constexpr int IDC_OUTPUT_AUDIO = 1007;
constexpr int IDC_OUTPUT_AUDIO_BROWSE = 1008;
constexpr int IDC_OUTPUT_ACCELERATION = 1009;
constexpr int IDC_OUTPUT_DESPECKLE = 1016;
constexpr int IDC_OUTPUT_DOF = 1017;
constexpr int IDC_OUTPUT_DOF_SCALE = 1018;
constexpr int IDC_OUTPUT_DOF_OFFSET = 1019;
constexpr int IDC_OUTPUT_MAX_DEPTH = 1020;
constexpr int IDC_OUTPUT_SUPER_SAMPLE = 1021;
constexpr int IDC_OUTPUT_SAVE_DEFAULTS = 1023;
constexpr int IDC_OUTPUT_MAX_AVI_FRAMES = 1039;

class OutputDialog : public QDialog {
  public:
    // Stops the camera and fills every control from its field.
    explicit OutputDialog(QWidget* owner);

    QWidget* control(int id) const;

    // OK, Cancel, the two "..." buttons and Save as Defaults; other
    // identifiers are ignored.
    void onCommand(int id);

    // An unsigned whole number as the digits-only fields hold it; any other
    // text, or one past int's range, reads 0.
    static int wholeNumber(const QString& text);

  private:
    struct Values {
        int width, height, fps, maxAviFrames;
        int motionBlur, despeckle, superSample, dof;
        float dofScale, dofOffset, maxDepth, acceleration;
        std::string outputFile, audioFile;
    };
    Values readControls() const;
    void apply();
    void saveAsDefaults();

    std::map<int, QWidget*> m_controls;
};

// Runs the dialog and refreshes the status line after it closes.
void runOutputDialog(QWidget* owner);

} // namespace vortigo
