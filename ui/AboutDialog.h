#pragma once

#include <QDialog>

namespace vortigo {

// The About box: the program icon, the version and the key summary.
class AboutDialog : public QDialog {
  public:
    explicit AboutDialog(QWidget* parent);
};

// The program icon, drawn once (a small Mandelbrot set).
QIcon programIcon();

} // namespace vortigo
