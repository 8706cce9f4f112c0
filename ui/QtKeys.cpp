#include "ui/QtKeys.h"

#include <Qt>

namespace vortigo {
namespace {

struct KeyPair {
    int qt;
    int vk;
};

// Keys whose codes do not follow from a range.
constexpr KeyPair KEY_TABLE[] = {
    {Qt::Key_Backspace, 8},    {Qt::Key_Tab, 9},           {Qt::Key_Backtab, 9},
    {Qt::Key_Return, 13},      {Qt::Key_Enter, 13},        {Qt::Key_Shift, 16},
    {Qt::Key_Control, 17},     {Qt::Key_Alt, 18},          {Qt::Key_Pause, 19},
    {Qt::Key_CapsLock, 20},    {Qt::Key_Escape, 27},       {Qt::Key_Space, 32},
    {Qt::Key_PageUp, 33},      {Qt::Key_PageDown, 34},     {Qt::Key_End, 35},
    {Qt::Key_Home, 36},        {Qt::Key_Left, 37},         {Qt::Key_Up, 38},
    {Qt::Key_Right, 39},       {Qt::Key_Down, 40},         {Qt::Key_Print, 44},
    {Qt::Key_Insert, 45},      {Qt::Key_Delete, 46},       {Qt::Key_Asterisk, 106},
    {Qt::Key_Plus, 107},       {Qt::Key_Minus, 109},       {Qt::Key_Slash, 111},
    {Qt::Key_NumLock, 144},    {Qt::Key_ScrollLock, 145},  {Qt::Key_Semicolon, 186},
    {Qt::Key_Colon, 186},      {Qt::Key_Equal, 187},       {Qt::Key_Comma, 188},
    {Qt::Key_Less, 188},       {Qt::Key_Underscore, 189},  {Qt::Key_Period, 190},
    {Qt::Key_Greater, 190},    {Qt::Key_Question, 191},    {Qt::Key_QuoteLeft, 192},
    {Qt::Key_AsciiTilde, 192}, {Qt::Key_BracketLeft, 219}, {Qt::Key_BraceLeft, 219},
    {Qt::Key_Backslash, 220},  {Qt::Key_Bar, 220},         {Qt::Key_BracketRight, 221},
    {Qt::Key_BraceRight, 221}, {Qt::Key_Apostrophe, 222},  {Qt::Key_QuoteDbl, 222},
};

} // namespace

int virtualKeyFromQt(int qtKey) {
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) return 65 + (qtKey - Qt::Key_A);
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) return 48 + (qtKey - Qt::Key_0);
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24) return 112 + (qtKey - Qt::Key_F1);
    for (const KeyPair& pair : KEY_TABLE)
        if (pair.qt == qtKey) return pair.vk;
    return 0;
}

int qtKeyFromVirtualKey(int virtualKey) {
    if (virtualKey >= 65 && virtualKey <= 90) return Qt::Key_A + (virtualKey - 65);
    if (virtualKey >= 48 && virtualKey <= 57) return Qt::Key_0 + (virtualKey - 48);
    if (virtualKey >= 112 && virtualKey <= 135) return Qt::Key_F1 + (virtualKey - 112);
    for (const KeyPair& pair : KEY_TABLE)
        if (pair.vk == virtualKey) return pair.qt;
    return 0;
}

} // namespace vortigo
