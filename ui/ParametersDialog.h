// The Parameters dialog: types in what the keyboard otherwise changes step
// by step (camera position and rotation, animation time and speed, udef[0]
// to udef[3]) and the four layers' background files and video frame
// counters, which are reloaded when the dialog is confirmed. Modal; the
// controls keep their resource identifiers so tests drive them by number.
// User-interface thread only.
#pragma once

#include <QDialog>
#include <array>
#include <cstdint>
#include <functional>
#include <map>

class QLineEdit;

namespace vortigo {

constexpr int IDC_PARAM_OK = 1;
constexpr int IDC_PARAM_CANCEL = 2;
constexpr std::array<int, 3> IDC_PARAM_EYE = {1000, 1001, 1002};
constexpr std::array<int, 3> IDC_PARAM_ROTATION = {1004, 1005, 1006};
constexpr int IDC_PARAM_TIME = 1013;
constexpr int IDC_PARAM_SPEED = 1014;
constexpr std::array<int, 4> IDC_PARAM_UDEF = {1007, 1009, 1010, 1011};
constexpr std::array<int, 4> IDC_PARAM_TEXTURE = {1012, 1017, 1018, 1019};
constexpr std::array<int, 4> IDC_PARAM_BROWSE = {1016, 1020, 1021, 1022};
constexpr std::array<int, 4> IDC_PARAM_FRAME = {1040, 1041, 1042, 1043};
constexpr int IDC_PARAM_ZERO = 1015;

// Loads a layer's background (layer, file, video frame counter) and says
// whether the layer now has pixels to upload.
using BackgroundLoader = std::function<uint8_t(int, const char*, int32_t*)>;

class ParametersDialog : public QDialog {
  public:
    // Refreshes cameraRotation from the orientation and fills every control.
    explicit ParametersDialog(QWidget* owner);

    QWidget* control(int id) const;

    void zero();
    // Applies every control, reloads the backgrounds, asks for a frame and
    // closes with result 1.
    void applyAndClose();
    // The common open-file dialog for texture box `textureId`.
    void browse(int textureId);

    // Tests replace the decoders; null puts loadBackground back.
    static void setBackgroundLoader(BackgroundLoader loader);

  private:
    QLineEdit* edit(int id) const;
    double number(int id) const;

    std::map<int, QWidget*> m_controls;
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
