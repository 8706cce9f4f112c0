// Qt keys translated to the virtual-key codes (platform/VirtualKeys.h) the
// studio, its key table and the animation script use on every platform.
#pragma once

#include <map>

namespace vortigo {

// The code of a key: by its place on the keyboard where the platform says
// (`scanCode`: the XKB keycode, evdev code + 8, that xcb and Wayland give as
// the native scan code; 0 where there is none), else by the Qt key, read as
// a US keyboard would produce it. Shift never changes the code of the digit
// row or the punctuation keys, and `keypad` (Qt's keypad modifier) keeps the
// keypad's own codes apart from the main row's. 0 when the key has none.
int virtualKeyFromQt(int qtKey, bool keypad = false, unsigned scanCode = 0);
// The Qt key that comes back as `virtualKey` (with the keypad modifier when
// isKeypadVirtualKey says so); 0 when the code stands for no Qt key.
int qtKeyFromVirtualKey(int virtualKey);
bool isKeypadVirtualKey(int virtualKey);

// The keys held down, each with the code its press gave: a release gives the
// same code even when a modifier or Num Lock changed what the key produces
// in between, so no keyDown word is left set.
class HeldKeys {
  public:
    int press(int qtKey, bool keypad, unsigned scanCode, bool autoRepeat);
    int release(int qtKey, bool keypad, unsigned scanCode);

  private:
    std::map<unsigned, int> m_codes; // by scan code
};

} // namespace vortigo
