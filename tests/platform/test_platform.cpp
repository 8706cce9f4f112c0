// Which platform receives the messages: the scoped installation and the stop
// when a program path never installed one.
#include "platform/HeadlessPlatform.h"

#include <gtest/gtest.h>

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

} // namespace
} // namespace vortigo
