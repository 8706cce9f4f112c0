// The frame buffers and their way between the threads: the render thread
// draws a frame and hands it over, the post-processing thread finishes it
// (udPostFrame, super-sampling, despeckle), the capture writer encodes it on
// that thread, and the finished frame becomes the one the Trace window
// paints. One object owns every buffer; a buffer is in exactly one place at
// a time, and it changes place only under the queue's mutex.
//
// Frames are width x height pixels of 3 samples (blue, green, red), bottom
// row first, rows not padded; a sample is a byte, or in deep frames a
// 16-bit word in the machine's order. Every frame buffer is a guarded block: they trade
// places, and udPostFrame is lent whichever one it finishes.
//
// Places and their owners:
//   target     the frame the render thread draws into now. Render thread.
//   free       buffers waiting to be drawn into; the hand-over takes the
//              next target from here. Under the mutex.
//   filled     frames handed over and not yet taken, oldest first. Under the
//              mutex. The render thread hands over only while nothing is in
//              flight, so it holds at most one frame and the free list never
//              runs dry (two to draw into, one on display).
//   finishing  the frame the post-processing thread works on, from take()
//              until release(). Post-processing thread.
//   extra      super-sampling's second frame and despeckle's output. It
//              belongs to the side that holds the frame in flight: the render
//              thread draws into it just before the hand-over, the
//              post-processing thread reads and writes it until release().
//   display    the last finished frame. Trade-only: publish() swaps the
//              finished buffer in, under the mutex; readers copy it under
//              the mutex (withDisplayed).
//   narrow     deep frames only: the 8-bit copy udPostFrame is lent.
//              Post-processing thread.
//   depth      the z-buffer. Render thread.
// inFlight() is set by the hand-over and cleared by release(), with release
// and acquire order, so it publishes the frame's pixels to the finisher and
// the finisher's last writes (extra included) back to the render thread;
// both changes wake the threads inside waitUntil(). The post-processing
// thread sleeps on the queue's condition variable; the render thread wakes
// it with wake() (not at the hand-over: see render/Workers.cpp).
//
// Allocation (install, clear, abandon) runs on the render thread while the
// post-processing thread is idle (nothing in flight), or, for abandon, has
// been given up on: its buffers are then kept alive, never freed under it.
#pragma once

#include "core/GuardedBlock.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace vortigo {

// A frame as the Trace window paints it: bottom-up rows of 3 samples.
struct FrameView {
    const uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    int sampleBytes = 1; // 2: deep frames of 16-bit samples
};

// What an allocation hands the queue; every frame buffer width x height x 3
// samples of sampleBytes bytes. extra and depth may be null (then there is no super-sampling,
// despeckle or depth of field).
struct FrameBuffers {
    GuardedBytes draw[2];
    GuardedBytes display;
    GuardedBytes extra;
    GuardedBytes narrow; // deep frames: width x height x 3 bytes
    std::unique_ptr<float[]> depth;
    int width = 0;
    int height = 0;
    int sampleBytes = 1;
};

// The frame the post-processing thread took; `epoch` tells a frame of
// buffers since abandoned, which then changes nothing.
struct TakenFrame {
    uint8_t* pixels = nullptr;
    uint64_t epoch = 0;
    explicit operator bool() const { return pixels != nullptr; }
};

class FrameQueue {
  public:
    // ---- Allocation (render thread, nothing in flight) -----------------
    // Frees every buffer; the queue is empty until the next install.
    void clear();
    // Takes the buffers: draw[0] becomes the target, draw[1] is free.
    void install(FrameBuffers buffers);
    // A post-processing thread did not finish in time: every buffer is kept
    // alive (it may still read them) and the queue is empty.
    void abandon();

    // Size the buffers were allocated for; 0 when none. Written only by the
    // allocation, read by the render and post-processing threads.
    int width() const { return m_width.load(std::memory_order_relaxed); }
    int height() const { return m_height.load(std::memory_order_relaxed); }
    int sampleBytes() const { return m_sampleBytes.load(std::memory_order_relaxed); }

    // ---- Render thread ----------------------------------------------------
    uint8_t* target() const { return m_target.get(); }
    float* depth() const { return m_depth.get(); }
    // Moves the target to the filled list and takes the next free buffer.
    // Call only while nothing is in flight.
    void handOver();
    // Wakes the post-processing thread for a handed-over frame.
    void wake();

    // ---- Any thread -------------------------------------------------------
    // A frame is handed over and its finishing has not ended.
    bool inFlight() const { return m_inFlight.load(std::memory_order_acquire); }
    // Render thread while nothing is in flight, post-processing thread while
    // it holds a frame.
    uint8_t* extra() const { return m_extra.get(); }
    // Post-processing thread: the deep frame's 8-bit copy; null otherwise.
    uint8_t* narrow() const { return m_narrow.get(); }

    // ---- Post-processing thread ------------------------------------------
    // Sleeps until a frame is filled, stop() holds, wake() is called, or
    // `limit` passes.
    template <typename Stop> void waitForFrame(Stop stop, std::chrono::milliseconds limit) {
        std::unique_lock lock(m_mutex);
        m_wake.wait_for(lock, limit, [&] { return !m_filled.empty() || stop(); });
    }
    bool hasFilled() const;
    // The oldest filled frame, now being finished; empty when none.
    TakenFrame take();
    // `output` (the taken frame, or extra after despeckle) becomes the
    // display; the display's old buffer takes its place.
    void publish(const TakenFrame& frame, const uint8_t* output);
    // The frame is done: its buffer is free again and nothing is in flight.
    void release(const TakenFrame& frame);

    // ---- Frame timing -----------------------------------------------------
    // The render thread's time between the starts of its last two frames
    // (the status line shows it), and when the last one started.
    std::atomic<int> frameMs{0};
    int64_t lastFrameTick = 0; // render thread

    // ---- Any thread, the lent-block checks --------------------------------
    // The queue's buffer that starts at `pixels`, or null.
    GuardedBytes* blockOf(const uint8_t* pixels);

    // ---- User-interface thread: the display -------------------------------
    // Calls f(view) with the last finished frame under the mutex (empty view
    // until a frame was finished after the last allocation, and for deep
    // frames, which only their sink reads). f must only
    // copy: no GL or script calls.
    template <typename F> void withDisplayed(F f) {
        std::lock_guard lock(m_mutex);
        f(m_displayShown && sampleBytes() == 1 ? FrameView{m_display.get(), width(), height()}
                                               : FrameView{});
    }

  private:
    void setInFlight(bool value);

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    GuardedBytes m_target;
    std::deque<GuardedBytes> m_free;
    std::deque<GuardedBytes> m_filled;
    GuardedBytes m_finishing;
    GuardedBytes m_extra;
    GuardedBytes m_narrow;
    GuardedBytes m_display;
    bool m_displayShown = false;
    std::unique_ptr<float[]> m_depth;
    std::atomic<int> m_width{0}, m_height{0}, m_sampleBytes{1};
    uint64_t m_epoch = 1;
    std::atomic<bool> m_inFlight{false};
    // Buffers a replaced post-processing thread may still read.
    std::vector<GuardedBytes> m_abandoned;
};

FrameQueue& frameQueue();

} // namespace vortigo
