#include "ui/QtPlatform.h"

#include "platform/Waits.h"
#include "ui/EditorControl.h"
#include "ui/EditorState.h"
#include "ui/QtKeys.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QThread>
#include <cstdio>
#include <memory>

namespace vortigo {
namespace {

struct MessageEvent : QEvent {
    MessageEvent(const WindowMessage& m, std::shared_ptr<std::atomic<bool>> d)
        : QEvent(static_cast<QEvent::Type>(QEvent::User + (m.type - 1024))), message(m),
          done(std::move(d)) {}
    ~MessageEvent() override {
        // A message dropped unhandled (its window is gone) must still release
        // its sender.
        if (done) {
            done->store(true, std::memory_order_release);
            notifyFlagChange();
        }
    }
    WindowMessage message;
    std::shared_ptr<std::atomic<bool>> done;
};

QMessageBox::StandardButtons qtButtons(MsgButtons buttons) {
    switch (buttons) {
    case MsgButtons::Ok:
        return QMessageBox::Ok;
    case MsgButtons::OkCancel:
        return QMessageBox::Ok | QMessageBox::Cancel;
    case MsgButtons::YesNo:
        return QMessageBox::Yes | QMessageBox::No;
    case MsgButtons::YesNoCancel:
        return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    }
    return QMessageBox::Ok;
}

QMessageBox::Icon qtIcon(MsgIcon icon) {
    switch (icon) {
    case MsgIcon::None:
        return QMessageBox::NoIcon;
    case MsgIcon::Error:
        return QMessageBox::Critical;
    case MsgIcon::Warning:
        return QMessageBox::Warning;
    case MsgIcon::Information:
        return QMessageBox::Information;
    case MsgIcon::Question:
        return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

// What a box answers when nobody can answer it any more.
MsgAnswer cancelAnswer(MsgButtons buttons) {
    switch (buttons) {
    case MsgButtons::Ok:
        return MsgAnswer::Ok;
    case MsgButtons::YesNo:
        return MsgAnswer::No;
    default:
        return MsgAnswer::Cancel;
    }
}

} // namespace

QtPlatform::QtPlatform()
    : m_tones([this] {
          // The desktop bell where no tone can be played; rung on the GUI thread.
          QMetaObject::invokeMethod(
              this, [] { QApplication::beep(); }, Qt::QueuedConnection);
      }) {}
QtPlatform::~QtPlatform() = default;

bool QtPlatform::onGuiThread() const {
    return QThread::currentThread() == thread();
}

QWidget* QtPlatform::widget(WindowId window) const {
    std::lock_guard lock(m_mutex);
    auto it = m_windows.find(window);
    return it == m_windows.end() ? nullptr : it->second.data();
}

void QtPlatform::registerWindow(WindowId window, QWidget* widget) {
    {
        std::lock_guard lock(m_mutex);
        m_windows[window] = widget;
    }
    widget->installEventFilter(this);
}

void QtPlatform::registerEditor(EditorControl* editor) {
    std::lock_guard lock(m_mutex);
    m_editor = editor;
}

MsgAnswer QtPlatform::showBox(WindowId owner, const std::string& text, const std::string& caption,
                              MsgButtons buttons, MsgIcon icon) {
    QMessageBox box(qtIcon(icon), QString::fromStdString(caption), QString::fromStdString(text),
                    qtButtons(buttons), widget(owner));
    switch (box.exec()) {
    case QMessageBox::Ok:
        return MsgAnswer::Ok;
    case QMessageBox::Yes:
        return MsgAnswer::Yes;
    case QMessageBox::No:
        return MsgAnswer::No;
    default:
        return cancelAnswer(buttons);
    }
}

MsgAnswer QtPlatform::messageBox(WindowId owner, const std::string& text,
                                 const std::string& caption, MsgButtons buttons, MsgIcon icon) {
    // Errors also go to standard error, where a terminal or a test sees them.
    if (icon == MsgIcon::Error || icon == MsgIcon::Warning)
        std::fprintf(stderr, "vortigo: %s: %s\n", caption.c_str(), text.c_str());
    if (onGuiThread()) return showBox(owner, text, caption, buttons, icon);
    if (m_cancelled.load()) return cancelAnswer(buttons);

    struct Reply {
        std::atomic<bool> done{false};
        MsgAnswer answer = MsgAnswer::Ok;
    };
    auto reply = std::make_shared<Reply>();
    reply->answer = cancelAnswer(buttons);
    QMetaObject::invokeMethod(
        this,
        [=, this] {
            if (!m_cancelled.load()) reply->answer = showBox(owner, text, caption, buttons, icon);
            reply->done.store(true, std::memory_order_release);
            notifyFlagChange();
        },
        Qt::QueuedConnection);
    while (!waitUntil([&] { return reply->done.load(std::memory_order_acquire) || m_cancelled; },
                      60 * 60 * 1000)) {
    }
    return reply->done.load(std::memory_order_acquire) ? reply->answer : cancelAnswer(buttons);
}

void QtPlatform::beep(int hz, int ms) {
    m_tones.play(hz, ms);
}

void QtPlatform::postMessage(const WindowMessage& message) {
    QWidget* target = widget(message.target);
    if (!target) return;
    if (message.type == MSG_KEYDOWN) {
        // A key-down arrives like the user's own key.
        const int virtualKey = static_cast<int>(message.p1);
        const int key = qtKeyFromVirtualKey(virtualKey);
        if (key)
            QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyPress, key,
                                                              isKeypadVirtualKey(virtualKey)
                                                                  ? Qt::KeypadModifier
                                                                  : Qt::NoModifier));
        return;
    }
    QCoreApplication::postEvent(target, new MessageEvent(message, nullptr));
}

bool QtPlatform::sendMessage(const WindowMessage& message,
                             const std::function<bool()>& keepWaiting) {
    QWidget* target = widget(message.target);
    if (!target) return false;
    auto done = std::make_shared<std::atomic<bool>>(false);
    QCoreApplication::postEvent(target, new MessageEvent(message, done));
    if (onGuiThread()) return true; // the handler runs when the loop gets there
    for (;;) {
        if (done->load(std::memory_order_acquire)) return true;
        if (!keepWaiting() || m_cancelled) return false;
        waitUntil([&] { return done->load(std::memory_order_acquire) || !keepWaiting(); }, 100);
    }
}

bool QtPlatform::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() < QEvent::User || event->type() > QEvent::MaxUser)
        return QObject::eventFilter(watched, event);
    auto* message = dynamic_cast<MessageEvent*>(event);
    if (!message) return QObject::eventFilter(watched, event);
    MessageHandler handler;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_handlers.find(message->message.target);
        if (it != m_handlers.end()) handler = it->second;
    }
    if (handler) handler(message->message);
    return true; // the event's destructor releases a waiting sender
}

void QtPlatform::setTitle(WindowId window, const std::string& title) {
    const QString text = QString::fromStdString(title);
    QMetaObject::invokeMethod(
        this,
        [this, window, text] {
            if (QWidget* w = widget(window)) w->setWindowTitle(text);
        },
        onGuiThread() ? Qt::DirectConnection : Qt::QueuedConnection);
}

void QtPlatform::invalidate(WindowId window) {
    QMetaObject::invokeMethod(
        this,
        [this, window] {
            if (QWidget* w = widget(window)) w->update();
        },
        Qt::QueuedConnection);
}

void QtPlatform::setEditorText(const std::string& text) {
    QMetaObject::invokeMethod(
        this,
        [this, text] {
            // The user may have switched to another text since the frame
            // queued this: the debug output must never land in it.
            if (editorState().currentKind != KIND_DEBUG) return;
            QPointer<EditorControl> editor;
            {
                std::lock_guard lock(m_mutex);
                editor = m_editor;
            }
            if (editor) editor->showBytes(text);
        },
        Qt::QueuedConnection);
}

void QtPlatform::setHandler(WindowId window, MessageHandler handler) {
    std::lock_guard lock(m_mutex);
    m_handlers[window] = std::move(handler);
}

void QtPlatform::cancelWaits() {
    m_cancelled.store(true);
    notifyFlagChange();
}

} // namespace vortigo
