// Qt's key names against the virtual-key codes the core and the scripts see.
#include "platform/VirtualKeys.h"
#include "ui/QtKeys.h"

#include <Qt>
#include <gtest/gtest.h>

namespace vortigo {
namespace {

TEST(QtKeys, EveryVirtualKeyWithAQtKeyComesBackFromIt) {
    for (int virtualKey = 1; virtualKey < 256; ++virtualKey) {
        const int qtKey = qtKeyFromVirtualKey(virtualKey);
        if (!qtKey) continue;
        EXPECT_EQ(virtualKeyFromQt(qtKey), virtualKey) << "virtual key " << virtualKey;
    }
}

TEST(QtKeys, RangesAndKeysWithTwoQtNames) {
    EXPECT_EQ(virtualKeyFromQt(Qt::Key_Q), 'Q');
    EXPECT_EQ(virtualKeyFromQt(Qt::Key_7), '7');
    EXPECT_EQ(virtualKeyFromQt(Qt::Key_F5), VK_F5);
    EXPECT_EQ(qtKeyFromVirtualKey(VK_F24), Qt::Key_F24);
    EXPECT_EQ(virtualKeyFromQt(Qt::Key_Left), VK_LEFT);
    EXPECT_EQ(virtualKeyFromQt(Qt::Key_Enter), VK_RETURN); // the keypad's Enter
    EXPECT_EQ(virtualKeyFromQt(Qt::Key_Backtab), VK_TAB);  // Shift+Tab
    EXPECT_EQ(qtKeyFromVirtualKey(VK_TAB), Qt::Key_Tab);
    EXPECT_EQ(virtualKeyFromQt(Qt::Key_Menu), 0);
    EXPECT_EQ(qtKeyFromVirtualKey(VK_F24 + 1), 0);
}

} // namespace
} // namespace vortigo
