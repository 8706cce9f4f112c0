// Which platform receives the messages: the scoped installation and the stop
// when a program path never installed one. Background priority. Beeps'
// tones and their bell where no sound can be played.
#include "platform/HeadlessPlatform.h"
#include "platform/ThreadPriority.h"
#include "platform/TonePlayer.h"

#include "../TempDir.h"

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace vortigo {
namespace {

TEST(PlatformInstall, AScopeInstallsItsPlatformAndPutsThePreviousOneBack) {
    Platform* outer = &platform();
    HeadlessPlatform first, second;
    {
        ScopedPlatform a(&first);
        {
            ScopedPlatform b(&second);
            platform().beep(440, 1);
        }
        platform().beep(220, 1);
    }
    EXPECT_EQ(&platform(), outer);
    ASSERT_EQ(second.beeps().size(), 1u);
    ASSERT_EQ(first.beeps().size(), 1u);
    EXPECT_EQ(first.beeps()[0].hz, 220);
}

TEST(PlatformInstallDeathTest, UsingNoPlatformStopsWithAMessage) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            ScopedPlatform none(nullptr);
            platform().beep(440, 1);
        },
        "platform\\(\\) called before setPlatform");
}

// The thread that asks (the user-interface thread, starting a capture) keeps
// its priority, which it could never win back; what the lowered work starts
// inherits the lowered one, and lowering again from there goes no lower.
TEST(ThreadPriority, OnlyTheLoweredWorkAndWhatItStartsRunBelowNormal) {
    auto niceness = [] {
        return getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)));
    };
    const int own = niceness();
    int lowered = own, started = own, again = own;
    runAtLowerPriority([&] {
        lowered = niceness();
        std::thread([&] { started = niceness(); }).join();
        runAtLowerPriority([&] { again = niceness(); });
    });
    EXPECT_EQ(niceness(), own);
    EXPECT_EQ(lowered, std::min(own + BACKGROUND_NICENESS, 19));
    EXPECT_EQ(started, lowered);
    EXPECT_EQ(again, lowered);
}

// The compile, mark and steering beeps as samples: their pitch (by zero
// crossings), their length, a level that never clips, and ends that fade so
// the speaker does not click.
TEST(TonePlayer, ATonesSamplesHaveItsPitchAndLengthAndFadeAtBothEnds) {
    constexpr int RATE = TonePlayer::SAMPLE_RATE;
    for (auto [hz, ms] : {std::pair{240, 250}, std::pair{1000, 100}, std::pair{500, 250}}) {
        SCOPED_TRACE(hz);
        const std::vector<int16_t> s = toneSamples(hz, ms, RATE);
        ASSERT_EQ(s.size(), static_cast<size_t>(RATE / 1000 * ms));
        int crossings = 0, peak = 0;
        for (size_t i = 1; i < s.size(); ++i) {
            crossings += (s[i - 1] < 0) != (s[i] < 0);
            peak = std::max(peak, std::abs(int{s[i]}));
        }
        EXPECT_NEAR(crossings, 2 * hz * ms / 1000, 2);
        EXPECT_GT(peak, 32767 / 4);
        EXPECT_LT(peak, 32767 * 3 / 4);
        const size_t quarterMs = RATE / 4000;
        for (size_t i = 0; i < quarterMs; ++i) {
            EXPECT_LT(std::abs(int{s[i]}), peak / 10) << "sample " << i;
            EXPECT_LT(std::abs(int{s[s.size() - 1 - i]}), peak / 10) << "from the end " << i;
        }
    }
    EXPECT_TRUE(toneSamples(0, 100, RATE).empty());
    EXPECT_TRUE(toneSamples(440, 0, RATE).empty());
}

// No sound library, or the library without a server: the bell rings for
// each tone and nothing hangs. A burst is cut to what the queue holds.
TEST(TonePlayer, WithoutLibraryOrServerEachToneRingsTheBellAndABurstIsBounded) {
    test::TempDir dir;
    std::atomic<int> bells{0};
    auto ring = [&] { ++bells; };
    {
        TonePlayer noLibrary(ring, "libvortigo-no-such-sound-library.so.0");
        noLibrary.play(1000, 100);
        noLibrary.play(500, 250);
        ASSERT_TRUE(noLibrary.waitIdle(60000));
        EXPECT_EQ(bells, 2);
    }
    {
        // The real library where it is installed, pointed at a server that
        // is not there.
        TonePlayer noServer(ring, "libpulse-simple.so.0", "unix:" + dir.file("no-server"));
        noServer.play(240, 250);
        ASSERT_TRUE(noServer.waitIdle(60000));
        EXPECT_EQ(bells, 3);
    }

    // The first bell holds the sound thread while ten more tones come.
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    bells = 0;
    TonePlayer burst(
        [&] {
            std::unique_lock lock(mutex);
            if (++bells == 1) released.wait(lock, [&] { return release; });
        },
        "libvortigo-no-such-sound-library.so.0");
    burst.play(1000, 100);
    while (bells == 0)
        std::this_thread::yield();
    for (int i = 0; i < 10; ++i)
        burst.play(1000, 100);
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    released.notify_all();
    ASSERT_TRUE(burst.waitIdle(60000));
    EXPECT_EQ(bells, 1 + static_cast<int>(TonePlayer::MAX_WAITING));
}

} // namespace
} // namespace vortigo
