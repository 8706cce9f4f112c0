// Qt's key names against the virtual-key codes the core and the scripts see.
#include "ResetProjectState.h"
#include "core/CameraFlight.h"
#include "core/RunState.h"
#include "platform/VirtualKeys.h"
#include "script/ScriptFixture.h"
#include "ui/QtKeys.h"
#include "ui/TraceWindow.h"

#include <QApplication>
#include <QKeyEvent>
#include <Qt>
#include <gtest/gtest.h>

namespace vortigo {
namespace {

TEST(QtKeys, EveryVirtualKeyWithAQtKeyComesBackFromIt) {
    for (int virtualKey = 1; virtualKey < 256; ++virtualKey) {
        const int qtKey = qtKeyFromVirtualKey(virtualKey);
        if (!qtKey) continue;
        EXPECT_EQ(virtualKeyFromQt(qtKey, isKeypadVirtualKey(virtualKey)), virtualKey)
            << "virtual key " << virtualKey;
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

// Keys go by their place, as their codes do on the desktops the scripts were
// written for: Shift and the layout change what a key types, not its code,
// the main row and the keypad have codes of their own, and a key's release
// clears the word its press set.
class TraceKeysTest : public test::ScriptFixture {
  protected:
    void SetUp() override {
        test::ScriptFixture::SetUp();
        CameraFlight& camera = cameraFlight();
        camera.udef[0] = 0;
        camera.udefDelta = 1;
        test::standInForAReadyRenderThread(false);
    }
    void TearDown() override {
        CameraFlight& camera = cameraFlight();
        for (int k = KEY_FIRST; k <= KEY_LAST; ++k)
            camera.keyDown[k - KEY_FIRST] = 0;
        test::ScriptFixture::TearDown();
    }
    // scanCode: the XKB keycode as xcb reports it; 0 as offscreen reports it.
    void key(QEvent::Type type, int qtKey, Qt::KeyboardModifiers modifiers, unsigned scanCode) {
        QKeyEvent event(type, qtKey, modifiers, scanCode, 0, 0);
        QApplication::sendEvent(&m_trace, &event);
    }
    int down(int virtualKey) const { return cameraView().keyDown[virtualKey - KEY_FIRST]; }
    std::vector<int> held() const {
        std::vector<int> codes;
        for (int k = KEY_FIRST; k <= KEY_LAST; ++k)
            if (down(k)) codes.push_back(k);
        return codes;
    }

    TraceWindow m_trace;
};

TEST_F(TraceKeysTest, ShiftLayoutAndKeypadLeaveTheCodeOfTheKeysPlace) {
    const CameraFlight& camera = cameraView();
    const auto press = QEvent::KeyPress;
    const auto release = QEvent::KeyRelease;
    const auto shift = Qt::ShiftModifier;
    const auto pad = Qt::KeypadModifier;
    for (unsigned oneKey : {10u, 0u}) { // xcb's keycode of the 1 key; none offscreen
        SCOPED_TRACE(oneKey);
        // Shift+1 nudges udef[0] as 1 does; Shift goes up first.
        key(press, Qt::Key_Shift, {}, 50);
        key(press, Qt::Key_Exclam, shift, oneKey);
        EXPECT_EQ(down('1'), 1);
        key(release, Qt::Key_Shift, shift, 50);
        key(release, Qt::Key_1, {}, oneKey);
        EXPECT_EQ(camera.udef[0], -1);
        // 1, then Shift down before its release.
        key(press, Qt::Key_1, {}, oneKey);
        key(press, Qt::Key_Shift, {}, 50);
        key(release, Qt::Key_Exclam, shift, oneKey);
        key(release, Qt::Key_Shift, shift, 50);
        EXPECT_EQ(camera.udef[0], -2);
        EXPECT_EQ(held(), std::vector<int>{});
        cameraFlight().udef[0] = 0;
    }
    // An AZERTY keyboard types & on the 1 key.
    key(press, Qt::Key_Ampersand, {}, 10);
    EXPECT_EQ(held(), std::vector<int>{'1'});
    key(release, Qt::Key_Ampersand, {}, 10);
    EXPECT_EQ(camera.udef[0], -1);
    cameraFlight().udef[0] = 0;

    // Keypad 1 to 8 are no digit keys. Shift turns keypad 1 into End while
    // it is held; the release still clears the keypad code.
    key(press, Qt::Key_1, pad, 87);
    key(press, Qt::Key_2, pad, 0);
    EXPECT_EQ(held(), (std::vector<int>{VK_NUMPAD0 + 1, VK_NUMPAD0 + 2}));
    key(press, Qt::Key_Shift, {}, 50);
    key(release, Qt::Key_End, pad | shift, 87);
    key(release, Qt::Key_2, pad, 0);
    key(release, Qt::Key_Shift, shift, 50);
    EXPECT_EQ(held(), std::vector<int>{});
    EXPECT_EQ(camera.udef[0], 0);

    // Main row against keypad, with a scan code and without.
    struct Case {
        int qtKey;
        Qt::KeyboardModifiers modifiers;
        unsigned scanCode;
        int code;
    };
    const Case cases[] = {
        {Qt::Key_Minus, {}, 20, VK_OEM_MINUS},
        {Qt::Key_Minus, {}, 0, VK_OEM_MINUS},
        {Qt::Key_Underscore, shift, 20, VK_OEM_MINUS},
        {Qt::Key_Plus, shift, 21, VK_OEM_PLUS},
        {Qt::Key_Plus, shift, 0, VK_OEM_PLUS},
        {Qt::Key_Equal, {}, 21, VK_OEM_PLUS},
        {Qt::Key_Slash, {}, 61, VK_OEM_2},
        {Qt::Key_Slash, {}, 0, VK_OEM_2},
        {Qt::Key_Asterisk, shift, 17, '8'},
        {Qt::Key_Minus, pad, 82, VK_SUBTRACT},
        {Qt::Key_Minus, pad, 0, VK_SUBTRACT},
        {Qt::Key_Plus, pad, 86, VK_ADD},
        {Qt::Key_Asterisk, pad, 63, VK_MULTIPLY},
        {Qt::Key_Slash, pad, 106, VK_DIVIDE},
        {Qt::Key_0, pad, 90, VK_NUMPAD0},
        {Qt::Key_9, pad, 0, VK_NUMPAD9},
        {Qt::Key_Period, pad, 91, VK_DECIMAL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        key(press, c.qtKey, c.modifiers, c.scanCode);
        EXPECT_EQ(held(), std::vector<int>{c.code});
        key(release, c.qtKey, c.modifiers, c.scanCode);
        EXPECT_EQ(held(), std::vector<int>{});
    }
    EXPECT_EQ(camera.udef[0], 0);
}

} // namespace
} // namespace vortigo
