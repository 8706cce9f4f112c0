#include "ui/QtKeys.h"

#include "platform/VirtualKeys.h"

#include <Qt>
#include <iterator>

namespace vortigo {
namespace {

struct KeyPair {
    int qt;
    int vk;
};

// Keys whose codes do not follow from a range.
constexpr KeyPair KEY_TABLE[] = {
    {Qt::Key_Backspace, VK_BACK},
    {Qt::Key_Tab, VK_TAB},
    {Qt::Key_Backtab, VK_TAB},
    {Qt::Key_Return, VK_RETURN},
    {Qt::Key_Enter, VK_RETURN},
    {Qt::Key_Shift, VK_SHIFT},
    {Qt::Key_Control, VK_CONTROL},
    {Qt::Key_Alt, VK_MENU},
    {Qt::Key_Pause, VK_PAUSE},
    {Qt::Key_CapsLock, VK_CAPITAL},
    {Qt::Key_Escape, VK_ESCAPE},
    {Qt::Key_Space, VK_SPACE},
    {Qt::Key_PageUp, VK_PRIOR},
    {Qt::Key_PageDown, VK_NEXT},
    {Qt::Key_End, VK_END},
    {Qt::Key_Home, VK_HOME},
    {Qt::Key_Left, VK_LEFT},
    {Qt::Key_Up, VK_UP},
    {Qt::Key_Right, VK_RIGHT},
    {Qt::Key_Down, VK_DOWN},
    {Qt::Key_Print, VK_SNAPSHOT},
    {Qt::Key_Insert, VK_INSERT},
    {Qt::Key_Delete, VK_DELETE},
    {Qt::Key_NumLock, VK_NUMLOCK},
    {Qt::Key_ScrollLock, VK_SCROLL},
    {Qt::Key_Semicolon, VK_OEM_1},
    {Qt::Key_Colon, VK_OEM_1},
    {Qt::Key_Equal, VK_OEM_PLUS},
    {Qt::Key_Plus, VK_OEM_PLUS},
    {Qt::Key_Comma, VK_OEM_COMMA},
    {Qt::Key_Less, VK_OEM_COMMA},
    {Qt::Key_Minus, VK_OEM_MINUS},
    {Qt::Key_Underscore, VK_OEM_MINUS},
    {Qt::Key_Period, VK_OEM_PERIOD},
    {Qt::Key_Greater, VK_OEM_PERIOD},
    {Qt::Key_Slash, VK_OEM_2},
    {Qt::Key_Question, VK_OEM_2},
    {Qt::Key_QuoteLeft, VK_OEM_3},
    {Qt::Key_AsciiTilde, VK_OEM_3},
    {Qt::Key_BracketLeft, VK_OEM_4},
    {Qt::Key_BraceLeft, VK_OEM_4},
    {Qt::Key_Backslash, VK_OEM_5},
    {Qt::Key_Bar, VK_OEM_5},
    {Qt::Key_BracketRight, VK_OEM_6},
    {Qt::Key_BraceRight, VK_OEM_6},
    {Qt::Key_Apostrophe, VK_OEM_7},
    {Qt::Key_QuoteDbl, VK_OEM_7},
    // The shifted digit row of a US keyboard, for platforms without scan
    // codes: the key's code does not change with Shift.
    {Qt::Key_Exclam, '1'},
    {Qt::Key_At, '2'},
    {Qt::Key_NumberSign, '3'},
    {Qt::Key_Dollar, '4'},
    {Qt::Key_Percent, '5'},
    {Qt::Key_AsciiCircum, '6'},
    {Qt::Key_Ampersand, '7'},
    {Qt::Key_Asterisk, '8'},
    {Qt::Key_ParenLeft, '9'},
    {Qt::Key_ParenRight, '0'},
};

// The keypad's keys that produce characters; its others (Enter, and Home,
// arrows and so on with Num Lock off) share the main keys' codes.
constexpr KeyPair KEYPAD_TABLE[] = {
    {Qt::Key_Asterisk, VK_MULTIPLY}, {Qt::Key_Plus, VK_ADD},       {Qt::Key_Minus, VK_SUBTRACT},
    {Qt::Key_Slash, VK_DIVIDE},      {Qt::Key_Period, VK_DECIMAL}, {Qt::Key_Comma, VK_DECIMAL},
};

// Keys whose code is fixed by their place, by XKB keycode (evdev + 8): the
// digit row and the punctuation keys of the main block, whatever the layout
// and modifiers make of them (unless the layout puts a letter there), and
// the keypad's operators.
constexpr KeyPair PLACE_TABLE[] = {
    {10, '1'},        {11, '2'},         {12, '3'},          {13, '4'},
    {14, '5'},        {15, '6'},         {16, '7'},          {17, '8'},
    {18, '9'},        {19, '0'},         {20, VK_OEM_MINUS}, {21, VK_OEM_PLUS},
    {34, VK_OEM_4},   {35, VK_OEM_6},    {47, VK_OEM_1},     {48, VK_OEM_7},
    {49, VK_OEM_3},   {51, VK_OEM_5},    {59, VK_OEM_COMMA}, {60, VK_OEM_PERIOD},
    {61, VK_OEM_2},   {63, VK_MULTIPLY}, {82, VK_SUBTRACT},  {86, VK_ADD},
    {106, VK_DIVIDE},
};

// The letter rows by place (XKB keycode of the first letter), for layouts
// whose letters have no Latin key of their own.
struct LetterRow {
    unsigned first;
    const char* letters;
};
constexpr LetterRow LETTER_ROWS[] = {{24, "QWERTYUIOP"}, {38, "ASDFGHJKL"}, {52, "ZXCVBNM"}};

int fromTable(const KeyPair* begin, const KeyPair* end, int qtKey) {
    for (const KeyPair* pair = begin; pair != end; ++pair)
        if (pair->qt == qtKey) return pair->vk;
    return 0;
}

int letterByPlace(unsigned scanCode) {
    for (const LetterRow& row : LETTER_ROWS)
        for (unsigned i = 0; row.letters[i]; ++i)
            if (row.first + i == scanCode) return row.letters[i];
    return 0;
}

} // namespace

int virtualKeyFromQt(int qtKey, bool keypad, unsigned scanCode) {
    // Letters follow the layout (an AZERTY keyboard's M sits where a US one
    // has the semicolon).
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) return 'A' + (qtKey - Qt::Key_A);
    for (const KeyPair& pair : PLACE_TABLE)
        if (scanCode != 0 && static_cast<unsigned>(pair.qt) == scanCode) return pair.vk;
    if (keypad) {
        if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) return VK_NUMPAD0 + (qtKey - Qt::Key_0);
        if (const int vk = fromTable(std::begin(KEYPAD_TABLE), std::end(KEYPAD_TABLE), qtKey))
            return vk;
    }
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) return '0' + (qtKey - Qt::Key_0);
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24) return VK_F1 + (qtKey - Qt::Key_F1);
    if (const int vk = fromTable(std::begin(KEY_TABLE), std::end(KEY_TABLE), qtKey)) return vk;
    return letterByPlace(scanCode);
}

int qtKeyFromVirtualKey(int virtualKey) {
    if (virtualKey >= 'A' && virtualKey <= 'Z') return Qt::Key_A + (virtualKey - 'A');
    if (virtualKey >= '0' && virtualKey <= '9') return Qt::Key_0 + (virtualKey - '0');
    if (virtualKey >= VK_NUMPAD0 && virtualKey <= VK_NUMPAD9)
        return Qt::Key_0 + (virtualKey - VK_NUMPAD0);
    if (virtualKey >= VK_F1 && virtualKey <= VK_F24) return Qt::Key_F1 + (virtualKey - VK_F1);
    for (const KeyPair& pair : KEYPAD_TABLE)
        if (pair.vk == virtualKey) return pair.qt;
    for (const KeyPair& pair : KEY_TABLE)
        if (pair.vk == virtualKey) return pair.qt;
    return 0;
}

bool isKeypadVirtualKey(int virtualKey) {
    return virtualKey >= VK_NUMPAD0 && virtualKey <= VK_DIVIDE && virtualKey != VK_SEPARATOR;
}

int HeldKeys::press(int qtKey, bool keypad, unsigned scanCode, bool autoRepeat) {
    if (scanCode == 0) return virtualKeyFromQt(qtKey, keypad);
    // A repeat keeps the code of the first press, as its release will.
    if (autoRepeat)
        if (auto it = m_codes.find(scanCode); it != m_codes.end()) return it->second;
    const int vk = virtualKeyFromQt(qtKey, keypad, scanCode);
    m_codes[scanCode] = vk;
    return vk;
}

int HeldKeys::release(int qtKey, bool keypad, unsigned scanCode) {
    auto it = scanCode ? m_codes.find(scanCode) : m_codes.end();
    if (it == m_codes.end()) return virtualKeyFromQt(qtKey, keypad, scanCode);
    const int vk = it->second;
    m_codes.erase(it);
    return vk;
}

} // namespace vortigo
