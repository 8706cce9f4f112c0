// The platform on Qt 6 Widgets. Private window messages become custom events
// (QEvent::User + message - 1024) posted to the registered widget; anything a
// worker thread asks of a widget is queued to the GUI thread.
#pragma once

#include "platform/Platform.h"
#include "platform/TonePlayer.h"

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <atomic>
#include <map>
#include <mutex>

namespace vortigo {

class EditorControl;

class QtPlatform : public QObject, public Platform {
  public:
    QtPlatform();
    ~QtPlatform() override;

    // GUI thread: tells the platform which widget stands for a window.
    void registerWindow(WindowId window, QWidget* widget);
    void registerEditor(EditorControl* editor);

    MsgAnswer messageBox(WindowId owner, const std::string& text, const std::string& caption,
                         MsgButtons buttons, MsgIcon icon) override;
    void beep(int hz, int ms) override;
    void postMessage(const WindowMessage& message) override;
    bool sendMessage(const WindowMessage& message,
                     const std::function<bool()>& keepWaiting) override;
    void setTitle(WindowId window, const std::string& title) override;
    void invalidate(WindowId window) override;
    void setEditorText(const std::string& text) override;
    void setHandler(WindowId window, MessageHandler handler) override;
    void cancelWaits() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    bool onGuiThread() const;
    QWidget* widget(WindowId window) const;
    MsgAnswer showBox(WindowId owner, const std::string& text, const std::string& caption,
                      MsgButtons buttons, MsgIcon icon);

    mutable std::mutex m_mutex; // guards the maps, never held across a call out
    std::map<WindowId, QPointer<QWidget>> m_windows;
    std::map<WindowId, MessageHandler> m_handlers;
    QPointer<EditorControl> m_editor;
    std::atomic<bool> m_cancelled{false};
    TonePlayer m_tones; // last, so it stops first: no bell rings into a platform going away
};

} // namespace vortigo
