// Which platform receives the messages: the scoped installation and the stop
// when a program path never installed one. Background priority.
#include "platform/HeadlessPlatform.h"
#include "platform/ThreadPriority.h"

#include <gtest/gtest.h>
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

} // namespace
} // namespace vortigo
