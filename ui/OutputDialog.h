// The Output dialog ("Select Output"): frame size and rate, the
// post-processing switches, depth of field, the capture file and its sound
// track, the frame limit per AVI file and the flight acceleration. OK applies
// them once the render thread rests and asks it to reallocate its buffers;
// "Save as Defaults" writes them to the options file without applying them.
//
// Threads: user-interface thread only. Modal, owned by the main window.
#pragma once

#include <QDialog>
#include <string>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace vortigo {

class OutputDialog : public QDialog {
  public:
    // Stops the camera and fills every control from its field.
    explicit OutputDialog(QWidget* owner);

    // The dialog's controls, as the user reaches them.
    struct Controls {
        QLineEdit *width, *height, *fps, *dofScale, *dofOffset, *maxDepth, *file, *audio,
            *maxAviFrames, *acceleration;
        QCheckBox *motionBlur, *despeckle, *superSample, *dof;
        QPushButton *fileBrowse, *audioBrowse, *saveDefaults, *ok, *cancel;
    };
    const Controls& controls() const { return m_controls; }

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
    // OK: applies the values once the render thread rests.
    void apply();
    void saveAsDefaults();
    void browseOutputFile();
    void browseAudioFile();

    Controls m_controls{};
};

// Runs the dialog and refreshes the status line after it closes.
void runOutputDialog(QWidget* owner);

} // namespace vortigo
