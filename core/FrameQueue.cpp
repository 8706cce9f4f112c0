#include "core/FrameQueue.h"

#include "platform/Waits.h"

#include <utility>

namespace vortigo {

void FrameQueue::setInFlight(bool value) {
    m_inFlight.store(value, std::memory_order_release);
    notifyFlagChange();
}

void FrameQueue::clear() {
    {
        std::lock_guard lock(m_mutex);
        m_target.reset();
        m_free.clear();
        m_filled.clear();
        m_finishing.reset();
        m_extra.reset();
        m_narrow.reset();
        m_display.reset();
        m_displayShown = false;
        m_depth.reset();
        m_width = 0;
        m_height = 0;
        ++m_epoch;
    }
    setInFlight(false);
}

void FrameQueue::install(FrameBuffers buffers) {
    std::lock_guard lock(m_mutex);
    m_target = std::move(buffers.draw[0]);
    m_free.clear();
    m_free.push_back(std::move(buffers.draw[1]));
    m_filled.clear();
    m_finishing.reset();
    m_extra = std::move(buffers.extra);
    m_narrow = std::move(buffers.narrow);
    m_display = std::move(buffers.display);
    m_displayShown = false;
    m_depth = std::move(buffers.depth);
    m_width = buffers.width;
    m_height = buffers.height;
    m_sampleBytes = buffers.sampleBytes;
    ++m_epoch;
}

void FrameQueue::abandon() {
    {
        std::lock_guard lock(m_mutex);
        auto keep = [this](GuardedBytes& block) {
            if (block) m_abandoned.push_back(std::move(block));
        };
        keep(m_target);
        for (GuardedBytes& block : m_free)
            keep(block);
        for (GuardedBytes& block : m_filled)
            keep(block);
        keep(m_finishing);
        keep(m_extra);
        keep(m_narrow);
        m_free.clear();
        m_filled.clear();
        ++m_epoch; // the old thread's publish and release change nothing now
    }
    setInFlight(false);
}

void FrameQueue::handOver() {
    {
        std::lock_guard lock(m_mutex);
        if (!m_target) return;
        m_filled.push_back(std::move(m_target));
        if (!m_free.empty()) {
            m_target = std::move(m_free.front());
            m_free.pop_front();
        }
    }
    setInFlight(true);
}

void FrameQueue::wake() {
    { std::lock_guard lock(m_mutex); }
    m_wake.notify_all();
}

bool FrameQueue::hasFilled() const {
    std::lock_guard lock(m_mutex);
    return !m_filled.empty();
}

TakenFrame FrameQueue::take() {
    std::lock_guard lock(m_mutex);
    if (m_filled.empty() || m_finishing) return {};
    m_finishing = std::move(m_filled.front());
    m_filled.pop_front();
    return TakenFrame{m_finishing.get(), m_epoch};
}

void FrameQueue::publish(const TakenFrame& frame, const uint8_t* output) {
    std::lock_guard lock(m_mutex);
    if (frame.epoch != m_epoch || !m_display) return;
    GuardedBytes* slot = nullptr;
    if (m_finishing && m_finishing.get() == output) slot = &m_finishing;
    if (m_extra && m_extra.get() == output) slot = &m_extra;
    if (!slot) return;
    std::swap(*slot, m_display);
    m_displayShown = true;
}

void FrameQueue::release(const TakenFrame& frame) {
    {
        std::lock_guard lock(m_mutex);
        if (frame.epoch != m_epoch || !m_finishing) return;
        m_free.push_back(std::move(m_finishing));
        if (!m_filled.empty()) return; // the next frame is still in flight
    }
    setInFlight(false);
}

GuardedBytes* FrameQueue::blockOf(const uint8_t* pixels) {
    if (!pixels) return nullptr;
    std::lock_guard lock(m_mutex);
    auto is = [pixels](const GuardedBytes& block) { return block && block.get() == pixels; };
    if (is(m_finishing)) return &m_finishing;
    if (is(m_extra)) return &m_extra;
    if (is(m_narrow)) return &m_narrow;
    if (is(m_target)) return &m_target;
    for (GuardedBytes& block : m_free)
        if (is(block)) return &block;
    for (GuardedBytes& block : m_filled)
        if (is(block)) return &block;
    if (is(m_display)) return &m_display;
    return nullptr;
}

FrameQueue& frameQueue() {
    static FrameQueue queue;
    return queue;
}

} // namespace vortigo
