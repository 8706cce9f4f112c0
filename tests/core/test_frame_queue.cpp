// The frame queue without threads: the hand-over protocol step by step, and
// a finisher that comes back after its buffers were given up on.
#include "core/FrameQueue.h"

#include <cstring>
#include <gtest/gtest.h>

namespace vortigo {
namespace {

constexpr int WIDTH = 2, HEIGHT = 1, BYTES = WIDTH * HEIGHT * 3;

FrameBuffers smallBuffers() {
    FrameBuffers buffers;
    buffers.draw[0] = GuardedBytes::allocate(BYTES);
    buffers.draw[1] = GuardedBytes::allocate(BYTES);
    buffers.display = GuardedBytes::allocate(BYTES);
    buffers.extra = GuardedBytes::allocate(BYTES);
    buffers.width = WIDTH;
    buffers.height = HEIGHT;
    return buffers;
}

const uint8_t* displayed(FrameQueue& queue) {
    const uint8_t* pixels = nullptr;
    queue.withDisplayed([&](const FrameView& view) { pixels = view.pixels; });
    return pixels;
}

// Despeckled frames (every other one) end in the extra buffer: the trades
// must still leave the renderer a buffer of its own that nobody else reads.
TEST(FrameQueue, EachFrameIsInOnePlaceAndTheRendererNeverRunsDry) {
    FrameQueue queue;
    queue.install(smallBuffers());
    for (int i = 0; i < 12; ++i) {
        SCOPED_TRACE(i);
        uint8_t* drawn = queue.target();
        ASSERT_NE(drawn, nullptr);
        std::memset(drawn, i, BYTES);
        queue.handOver();
        EXPECT_TRUE(queue.inFlight());
        EXPECT_NE(queue.target(), drawn);

        const TakenFrame taken = queue.take();
        ASSERT_EQ(taken.pixels, drawn); // frames come out as they went in
        EXPECT_FALSE(queue.take());     // one finisher at a time
        uint8_t* output = taken.pixels;
        if (i % 2) {
            output = queue.extra();
            std::memcpy(output, taken.pixels, BYTES);
        }
        output[0] = static_cast<uint8_t>(100 + i);
        queue.publish(taken, output);
        queue.release(taken);
        EXPECT_FALSE(queue.inFlight());

        // The renderer draws the next frame: the picture stays as finished.
        const uint8_t* shown = displayed(queue);
        ASSERT_NE(shown, nullptr);
        ASSERT_NE(queue.target(), nullptr);
        EXPECT_NE(queue.target(), shown);
        EXPECT_NE(queue.extra(), shown);
        std::memset(queue.target(), 0xEE, BYTES);
        std::memset(queue.extra(), 0xEE, BYTES);
        EXPECT_EQ(shown[0], 100 + i);
        EXPECT_EQ(shown[1], i);
    }
}

// A post-processing thread given up on (its buffers abandoned, new ones
// allocated) finally returns: its publish and release must not show its
// stale frame nor end the new frame's flight under the new finisher.
TEST(FrameQueue, AFinisherGivenUpOnChangesNothingWhenItReturns) {
    FrameQueue queue;
    queue.install(smallBuffers());
    queue.handOver();
    const TakenFrame stale = queue.take();
    ASSERT_TRUE(stale);

    queue.abandon();
    EXPECT_FALSE(queue.inFlight());
    queue.install(smallBuffers());
    queue.handOver();
    const TakenFrame fresh = queue.take(); // by the thread that took over
    ASSERT_TRUE(fresh);

    stale.pixels[0] = 7; // still alive: the stuck thread may write it
    queue.publish(stale, stale.pixels);
    queue.release(stale);
    EXPECT_TRUE(queue.inFlight());
    EXPECT_EQ(displayed(queue), nullptr);
    queue.publish(fresh, fresh.pixels);
    queue.release(fresh);
    EXPECT_FALSE(queue.inFlight());
    EXPECT_NE(displayed(queue), nullptr);
}

} // namespace
} // namespace vortigo
