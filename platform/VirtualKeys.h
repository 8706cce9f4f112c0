// Virtual-key codes: the numbers keys travel as in key messages, the
// script's keyDown words and the Trace window's key handling. Letters and
// digits are their upper-case character codes ('A', '0'), written as
// character literals where they are used.
#pragma once

namespace vortigo {

constexpr int VK_BACK = 8; // Backspace
constexpr int VK_TAB = 9;
constexpr int VK_RETURN = 13;
constexpr int VK_SHIFT = 16;
constexpr int VK_CONTROL = 17;
constexpr int VK_MENU = 18; // Alt
constexpr int VK_PAUSE = 19;
constexpr int VK_CAPITAL = 20; // Caps Lock
constexpr int VK_ESCAPE = 27;
constexpr int VK_SPACE = 32;
constexpr int VK_PRIOR = 33; // Page Up
constexpr int VK_NEXT = 34;  // Page Down
constexpr int VK_END = 35;
constexpr int VK_HOME = 36;
constexpr int VK_LEFT = 37;
constexpr int VK_UP = 38;
constexpr int VK_RIGHT = 39;
constexpr int VK_DOWN = 40;
constexpr int VK_SNAPSHOT = 44; // Print Screen
constexpr int VK_INSERT = 45;
constexpr int VK_DELETE = 46;
constexpr int VK_NUMPAD0 = 96; // the keypad's digits, 0 to 9, follow one after another
constexpr int VK_NUMPAD9 = 105;
constexpr int VK_MULTIPLY = 106; // the keypad's operators
constexpr int VK_ADD = 107;
constexpr int VK_SEPARATOR = 108;
constexpr int VK_SUBTRACT = 109;
constexpr int VK_DECIMAL = 110;
constexpr int VK_DIVIDE = 111;
constexpr int VK_F1 = 112; // F1 to F24 follow one after another
constexpr int VK_F2 = 113;
constexpr int VK_F3 = 114;
constexpr int VK_F4 = 115;
constexpr int VK_F5 = 116;
constexpr int VK_F6 = 117;
constexpr int VK_F7 = 118;
constexpr int VK_F8 = 119;
constexpr int VK_F9 = 120;
constexpr int VK_F10 = 121;
constexpr int VK_F11 = 122;
constexpr int VK_F12 = 123;
constexpr int VK_F24 = 135;
constexpr int VK_NUMLOCK = 144;
constexpr int VK_SCROLL = 145;     // Scroll Lock
constexpr int VK_OEM_1 = 186;      // ; and :
constexpr int VK_OEM_PLUS = 187;   // = and +
constexpr int VK_OEM_COMMA = 188;  // , and <
constexpr int VK_OEM_MINUS = 189;  // - and _
constexpr int VK_OEM_PERIOD = 190; // . and >
constexpr int VK_OEM_2 = 191;      // / and ?
constexpr int VK_OEM_3 = 192;      // ` and ~
constexpr int VK_OEM_4 = 219;      // [ and {
constexpr int VK_OEM_5 = 220;      // \ and |
constexpr int VK_OEM_6 = 221;      // ] and }
constexpr int VK_OEM_7 = 222;      // ' and "

} // namespace vortigo
