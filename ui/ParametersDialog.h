// The Parameters dialog: types in what the keyboard otherwise changes step
// by step (camera position and rotation, animation time and speed, udef[0]
// to udef[3]) and the four layers' background files and video frame
// counters, which are reloaded when the dialog is confirmed. Modal.
// User-interface thread only.
#pragma once

#include <QDialog>
#include <array>
#include <cstdint>
#include <functional>

class QLineEdit;
class QPushButton;

namespace vortigo {

// Loads a layer's background (layer, file, video frame counter) and says
// whether the layer now has pixels to upload.
using BackgroundLoader = std::function<uint8_t(int, const char*, int32_t*)>;

class ParametersDialog : public QDialog {
  public:
    // Refreshes cameraRotation from the orientation and fills every control.
    explicit ParametersDialog(QWidget* owner);

    // What the dialog ends with: OK applied the values, Cancel did not.
    static constexpr int RESULT_OK = 1;
    static constexpr int RESULT_CANCEL = 2;

    // The dialog's controls, as the user reaches them; one texture row per
    // layer.
    struct Controls {
        std::array<QLineEdit*, 3> eye, rotation;
        QLineEdit *time, *speed;
        std::array<QLineEdit*, 4> udef;
        std::array<QLineEdit*, 4> texture, frame;
        std::array<QPushButton*, 4> browse;
        QPushButton *zero, *ok, *cancel;
    };
    const Controls& controls() const { return m_controls; }

    void zero();
    // Applies every control, reloads the backgrounds, asks for a frame and
    // closes with RESULT_OK.
    void applyAndClose();
    // The common open-file dialog for the texture box of `layer`.
    void browse(size_t layer);

    // Tests replace the decoders; null puts loadBackground back.
    static void setBackgroundLoader(BackgroundLoader loader);

  private:
    Controls m_controls{};
};

// The folder a browse starts in: the text up to its last separator ("/" or
// "\"), or nothing when it has none.
QString initialFolderOf(const QString& path);

// A frame counter as the dialog reads it: leading spaces, then decimal
// digits up to the first other character; no digits, a sign or a value past
// the counter's range read 0.
int32_t readFrameCounter(const QString& text);

// The modal run of the dialog from the main window.
void runParametersDialog(QWidget* owner);

} // namespace vortigo
