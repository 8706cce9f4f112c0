#include "platform/HeadlessPlatform.h"

#include "platform/Waits.h"

#include <thread>

namespace vortigo {

MsgAnswer HeadlessPlatform::messageBox(WindowId owner, const std::string& text,
                                       const std::string& caption, MsgButtons buttons,
                                       MsgIcon icon) {
    MessageBoxRecord record{owner, text, caption, buttons, icon};
    std::function<MsgAnswer(const MessageBoxRecord&)> responder;
    MsgAnswer answer;
    {
        std::lock_guard lock(m_mutex);
        m_boxes.push_back(record);
        responder = m_responder;
        answer = m_answer;
    }
    // The responder runs without the lock: it may block like a user who
    // never answers, and other threads must still be able to record.
    return responder ? responder(record) : answer;
}

void HeadlessPlatform::beep(int hz, int ms) {
    std::lock_guard lock(m_mutex);
    m_beeps.push_back({hz, ms});
}

void HeadlessPlatform::postMessage(const WindowMessage& message) {
    bool immediate;
    {
        std::lock_guard lock(m_mutex);
        immediate = m_immediate;
        if (!immediate) {
            m_posted.push_back(message);
            m_queue.push_back({message, nullptr});
        }
    }
    if (immediate) {
        dispatch(message);
    } else {
        m_queued.notify_all();
        notifyFlagChange();
    }
}

bool HeadlessPlatform::sendMessage(const WindowMessage& message,
                                   const std::function<bool()>& keepWaiting) {
    bool immediate;
    {
        std::lock_guard lock(m_mutex);
        immediate = m_immediate;
    }
    if (immediate) {
        dispatch(message);
        return true;
    }
    auto done = std::make_shared<std::atomic<bool>>(false);
    {
        std::lock_guard lock(m_mutex);
        m_posted.push_back(message);
        m_queue.push_back({message, done});
    }
    m_queued.notify_all();
    notifyFlagChange();
    for (;;) {
        if (done->load(std::memory_order_acquire)) return true;
        if (!keepWaiting()) return false;
        waitUntil([&] { return done->load(std::memory_order_acquire) || !keepWaiting(); }, 100);
    }
}

void HeadlessPlatform::setTitle(WindowId window, const std::string& title) {
    std::lock_guard lock(m_mutex);
    m_titles[window] = title;
}

void HeadlessPlatform::invalidate(WindowId window) {
    std::lock_guard lock(m_mutex);
    ++m_invalidations[window];
}

void HeadlessPlatform::setEditorText(const std::string& text) {
    std::lock_guard lock(m_mutex);
    m_editorText = text;
}

void HeadlessPlatform::setHandler(WindowId window, MessageHandler handler) {
    std::lock_guard lock(m_mutex);
    m_handlers[window] = std::move(handler);
}

void HeadlessPlatform::setAnswer(MsgAnswer answer) {
    std::lock_guard lock(m_mutex);
    m_answer = answer;
}

void HeadlessPlatform::setResponder(std::function<MsgAnswer(const MessageBoxRecord&)> responder) {
    std::lock_guard lock(m_mutex);
    m_responder = std::move(responder);
}

void HeadlessPlatform::setImmediate(bool immediate) {
    std::lock_guard lock(m_mutex);
    m_immediate = immediate;
}

void HeadlessPlatform::dispatch(const WindowMessage& message) {
    MessageHandler handler;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_handlers.find(message.target);
        if (it != m_handlers.end()) handler = it->second;
    }
    if (handler) handler(message);
}

int HeadlessPlatform::pump() {
    int count = 0;
    for (;;) {
        Pending pending;
        {
            std::lock_guard lock(m_mutex);
            if (m_queue.empty()) break;
            pending = std::move(m_queue.front());
            m_queue.pop_front();
        }
        dispatch(pending.message);
        if (pending.done) pending.done->store(true, std::memory_order_release);
        notifyFlagChange();
        ++count;
    }
    return count;
}

bool HeadlessPlatform::pumpUntil(const std::function<bool()>& done, int limitMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    for (;;) {
        pump();
        if (done()) return true;
        if (Clock::now() >= deadline) return false;
        std::unique_lock lock(m_mutex);
        m_queued.wait_for(lock, std::chrono::milliseconds(5), [&] { return !m_queue.empty(); });
    }
}

std::vector<HeadlessPlatform::MessageBoxRecord> HeadlessPlatform::messageBoxes() const {
    std::lock_guard lock(m_mutex);
    return m_boxes;
}

std::vector<HeadlessPlatform::BeepRecord> HeadlessPlatform::beeps() const {
    std::lock_guard lock(m_mutex);
    return m_beeps;
}

std::vector<WindowMessage> HeadlessPlatform::postedMessages() const {
    std::lock_guard lock(m_mutex);
    return m_posted;
}

std::string HeadlessPlatform::title(WindowId window) const {
    std::lock_guard lock(m_mutex);
    auto it = m_titles.find(window);
    return it == m_titles.end() ? std::string() : it->second;
}

int HeadlessPlatform::invalidations(WindowId window) const {
    std::lock_guard lock(m_mutex);
    auto it = m_invalidations.find(window);
    return it == m_invalidations.end() ? 0 : it->second;
}

std::string HeadlessPlatform::editorText() const {
    std::lock_guard lock(m_mutex);
    return m_editorText;
}

void HeadlessPlatform::clearRecords() {
    std::lock_guard lock(m_mutex);
    m_boxes.clear();
    m_beeps.clear();
    m_posted.clear();
    m_titles.clear();
    m_invalidations.clear();
}

} // namespace vortigo
