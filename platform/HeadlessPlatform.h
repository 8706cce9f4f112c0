// The platform without windows: tests and batch work. It records every
// message box, beep, posted message and title change, answers message boxes
// with a value the test chooses, and runs the window handlers when the
// owning thread pumps its queue (or at once, in batch mode).
#pragma once

#include "platform/Platform.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

namespace vortigo {

class HeadlessPlatform : public Platform {
  public:
    struct MessageBoxRecord {
        WindowId owner;
        std::string text;
        std::string caption;
        MsgButtons buttons;
        MsgIcon icon;
    };
    struct BeepRecord {
        int hz;
        int ms;
    };

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

    // The answer every later message box gets, and an optional responder
    // that replaces it (it may block, to play a user who never answers).
    void setAnswer(MsgAnswer answer);
    void setResponder(std::function<MsgAnswer(const MessageBoxRecord&)> responder);

    // In batch mode messages are handled on the sending thread at once, and
    // not recorded: a run of a million frames would keep a million records.
    void setImmediate(bool immediate);

    // Runs the queued messages on the calling thread; returns how many ran.
    int pump();
    // Pumps until `done()` holds or `limitMs` pass; returns done().
    bool pumpUntil(const std::function<bool()>& done, int limitMs);

    std::vector<MessageBoxRecord> messageBoxes() const;
    std::vector<BeepRecord> beeps() const;
    std::vector<WindowMessage> postedMessages() const; // queued ones only
    std::string title(WindowId window) const;
    int invalidations(WindowId window) const;
    std::string editorText() const;
    void clearRecords();

  private:
    struct Pending {
        WindowMessage message;
        std::shared_ptr<std::atomic<bool>> done;
    };
    void dispatch(const WindowMessage& message);

    mutable std::mutex m_mutex;
    std::condition_variable m_queued;
    MsgAnswer m_answer = MsgAnswer::Ok;
    std::function<MsgAnswer(const MessageBoxRecord&)> m_responder;
    bool m_immediate = false;
    std::vector<MessageBoxRecord> m_boxes;
    std::vector<BeepRecord> m_beeps;
    std::vector<WindowMessage> m_posted;
    std::map<WindowId, std::string> m_titles;
    std::map<WindowId, int> m_invalidations;
    std::map<WindowId, MessageHandler> m_handlers;
    std::deque<Pending> m_queue;
    std::string m_editorText;
};

} // namespace vortigo
