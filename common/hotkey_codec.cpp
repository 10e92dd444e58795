#include "common/hotkey_codec.h"

namespace tarvi {

HotkeyKey decodeHotkey(std::int16_t value) {
  HotkeyKey k;
  if (value <= 0) return k;
  if (value <= 90) {
    k.name = u"Ctrl+";
    k.name += static_cast<char16_t>(value);
    k.modifiers = kModControl;
    k.virtualKey = static_cast<unsigned>(value);
  } else if (value <= 199) {
    k.name = u"Ctrl+F" + decimal(value - 111);
    k.modifiers = kModControl;
    k.virtualKey = static_cast<unsigned>(value);
  } else {
    k.name = u"Shift+F" + decimal(value - 211);
    k.modifiers = kModShift;
    k.virtualKey = static_cast<unsigned>(value - 100);
  }
  return k;
}

}  // namespace tarvi
