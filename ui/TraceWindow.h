// The Trace window: shows the finished frames and flies the camera with the
// keyboard and mouse. User-interface thread only.
#pragma once

#include "ui/QtKeys.h"

#include <QWidget>

namespace vortigo {

class TraceWindow : public QWidget {
  public:
    TraceWindow();
    ~TraceWindow() override;

    // A key-down by virtual-key code, as the keyboard or a command sends it.
    void keyDown(int virtualKey);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    // The window has no close box: a close asked for by the window manager
    // is refused, so the window cannot be lost while the studio runs.
    void closeEvent(QCloseEvent* event) override;
    // Tab and Shift+Tab are keys here, not focus moves.
    bool focusNextPrevChild(bool) override { return false; }

  private:
    void centrePointer();
    void moveImageMouse(QMouseEvent* event, bool press);

    HeldKeys m_heldKeys;
};

} // namespace vortigo
