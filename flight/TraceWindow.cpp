#include "flight/TraceWindow.h"

#include "app/ProjectState.h"
#include "render/FramePipeline.h"

#include <QImage>
#include <QPainter>

namespace vortigo {

TraceWindow::TraceWindow()
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowMinMaxButtonsHint) {
    // No close box: the studio ends through its main window.
    ProjectState& s = state();
    setWindowTitle(QStringLiteral("Trace"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    move(s.traceWindowLeft, s.traceWindowTop);
    resize(s.imageWidth > 0 ? s.imageWidth : 640, s.imageHeight > 0 ? s.imageHeight : 480);
}

void TraceWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QImage frame;
    {
        // Copy under the lock: an allocation may swap the buffers.
        std::lock_guard lock(frameBufferMutex());
        const FrameView view = shownFrameView();
        if (view.pixels && view.width > 0 && view.height > 0) {
            // Rows are bottom-up and unpadded.
            frame = QImage(view.pixels, view.width, view.height, view.width * 3,
                           QImage::Format_BGR888)
                        .mirrored(false, true);
        }
    }
    if (frame.isNull()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    painter.drawImage(0, 0, frame);
    // Whatever the frame does not cover stays black rather than stale.
    if (frame.width() < width()) painter.fillRect(frame.width(), 0, width() - frame.width(), height(), Qt::black);
    if (frame.height() < height())
        painter.fillRect(0, frame.height(), frame.width(), height() - frame.height(), Qt::black);
}

} // namespace vortigo
