// File > Render Poster...: the size in pixels (or a print size in
// centimetres or inches at a dpi), the tile size, the format and the file;
// then the poster of the current frame with a progress bar and Cancel.
//
// Threads: user-interface thread only.
#pragma once

#include "ui/StudioPoster.h"

#include <QDialog>

class QComboBox;
class QLineEdit;
class QSpinBox;

namespace vortigo {

class PosterDialog : public QDialog {
  public:
    explicit PosterDialog(QWidget* owner);

    struct Controls {
        QComboBox *preset, *format;
        QSpinBox *dpi, *tile;
        QLineEdit *width, *height, *file;
    };
    const Controls& controls() const { return m_controls; }

    // What the controls say; a side that is not a number reads 0, so the
    // check refuses it.
    PosterRequest request() const;

  private:
    void applyPreset();
    void formatChosen();
    void browse();
    void accept() override;

    Controls m_controls{};
};

// Checks the request (a PNG too large for PNG asks to switch to TIFF),
// waits for the render thread to rest and starts the poster under a
// progress dialog; a refusal is shown in a message box. The poster that
// runs, or null.
StudioPoster* startPoster(QWidget* owner, PosterRequest request);

// Runs the dialog and, on OK, starts the poster.
void runPosterDialog(QWidget* owner);

} // namespace vortigo
