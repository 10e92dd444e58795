// The 16-bit hotkey value that both programs keep for each hotkey and
// what it means as a key: 0 none; 1..90 Ctrl with that virtual key (the
// letters are 65..90); 91..199 Ctrl with function key F(value - 111);
// 200 and up Shift with function key F(value - 211), virtual key value - 100.
#pragma once

#include <cstdint>

#include "common/text.h"

namespace tarvi {

inline constexpr unsigned kModControl = 2;  // MOD_CONTROL
inline constexpr unsigned kModShift = 4;    // MOD_SHIFT

struct HotkeyKey {
  Text name;               // "Ctrl+A", "Ctrl+F2", "Shift+F16"; empty: no hotkey
  unsigned modifiers = 0;  // kModControl or kModShift
  unsigned virtualKey = 0;

  bool none() const { return name.empty(); }
  bool operator==(const HotkeyKey&) const = default;
};

// Values of 0 and below decode to no hotkey: a negative value can only come
// from a damaged store and must not register some arbitrary key.
HotkeyKey decodeHotkey(std::int16_t value);

}  // namespace tarvi
