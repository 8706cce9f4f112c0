#include "ui/TraceWindow.h"

#include "control/TraceKeys.h"
#include "core/FrameQueue.h"
#include "core/ProjectFiles.h"
#include "core/ProjectState.h"
#include "flight/FlightControls.h"
#include "render/FramePipeline.h"
#include "render/ImageShader.h"
#include "render/Workers.h"
#include "ui/EditorState.h"
#include "ui/IdleRetry.h"
#include "ui/QtKeys.h"

#include <QCloseEvent>
#include <QCursor>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

namespace vortigo {

TraceWindow::TraceWindow()
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowMinMaxButtonsHint) {
    // No close box: the studio ends through its main window.
    ProjectFiles& files = projectFiles();
    EditorState& editor = editorState();
    setWindowTitle(QStringLiteral("Trace"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    move(editor.traceWindowLeft, editor.traceWindowTop);
    resize(files.imageWidth > 0 ? files.imageWidth : 640,
           files.imageHeight > 0 ? files.imageHeight : 480);
    setPointerSource([this](int& x, int& y) {
        const QPoint point = mapFromGlobal(QCursor::pos());
        x = point.x();
        y = point.y();
        return true;
    });
}

TraceWindow::~TraceWindow() {
    setPointerSource(nullptr);
}

void TraceWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QImage frame;
    // Copied under the queue's lock: a finished frame or an allocation may
    // swap the display buffer.
    frameQueue().withDisplayed([&frame](const FrameView& view) {
        if (view.pixels && view.width > 0 && view.height > 0) {
            // Rows are bottom-up and unpadded.
            frame = QImage(view.pixels, view.width, view.height, view.width * qsizetype{3},
                           QImage::Format_BGR888)
                        .mirrored(false, true);
        }
    });
    if (frame.isNull()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    painter.drawImage(0, 0, frame);
    // Whatever the frame does not cover stays black rather than stale.
    if (frame.width() < width())
        painter.fillRect(frame.width(), 0, width() - frame.width(), height(), Qt::black);
    if (frame.height() < height())
        painter.fillRect(0, frame.height(), frame.width(), height() - frame.height(), Qt::black);
}

void TraceWindow::centrePointer() {
    const ProjectFiles& files = projectFiles();
    QCursor::setPos(mapToGlobal(QPoint(files.imageWidth / 2, files.imageHeight / 2)));
}

void TraceWindow::keyDown(int virtualKey) {
    switch (traceKeyDown(virtualKey)) {
    case KeyAction::None:
        break;
    case KeyAction::Advance:
        handleAdvanceMessage();
        break;
    case KeyAction::CentrePointer:
        centrePointer();
        break;
    case KeyAction::CentrePointerAdvance:
        centrePointer();
        handleAdvanceMessage();
        break;
    case KeyAction::StoreSteeringPoint: {
        const QPoint point = mapFromGlobal(QCursor::pos());
        setSteeringPoint(point.x(), point.y());
        break;
    }
    case KeyAction::RepostKey:
        // Tried again from the queue until the system is idle.
        retryWhenIdle(this, [virtualKey] {
            platform().postMessage(WindowMessage{WindowId::Trace, MSG_KEYDOWN, virtualKey, 0});
        });
        break;
    }
}

void TraceWindow::keyPressEvent(QKeyEvent* event) {
    const int virtualKey = m_heldKeys.press(event->key(), event->modifiers() & Qt::KeypadModifier,
                                            event->nativeScanCode(), event->isAutoRepeat());
    if (virtualKey) keyDown(virtualKey);
}

void TraceWindow::keyReleaseEvent(QKeyEvent* event) {
    // The desktop repeats a held key as release and press pairs; the key is
    // still held until the real release.
    if (event->isAutoRepeat()) return;
    const int virtualKey = m_heldKeys.release(event->key(), event->modifiers() & Qt::KeypadModifier,
                                              event->nativeScanCode());
    if (virtualKey) traceKeyUp(virtualKey);
}

void TraceWindow::wheelEvent(QWheelEvent* event) {
    traceWheel(event->angleDelta().y());
}

void TraceWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
}

void TraceWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) moveImageMouse(event, true);
    const int key = event->button() == Qt::LeftButton    ? traceMouseButton(true)
                    : event->button() == Qt::RightButton ? traceMouseButton(false)
                                                         : 0;
    if (key) keyDown(key);
}

void TraceWindow::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton) moveImageMouse(event, false);
}

void TraceWindow::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) releaseImageShaderMouse();
}

// iMouse counts frame pixels from the bottom left; the frame is painted at
// the top left at one pixel a pixel.
void TraceWindow::moveImageMouse(QMouseEvent* event, bool press) {
    const QPointF at = event->position();
    const float height = static_cast<float>(frameQueue().height());
    setImageShaderMouse(static_cast<float>(at.x()), height - 1.0F - static_cast<float>(at.y()),
                        press);
}

} // namespace vortigo
