// The choices of the eight hotkey lists of the options dialog. Every list
// has the same items at the same positions, so two lists name the same key
// exactly when their positions are equal.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "common/settings.h"
#include "common/text.h"

namespace tarvi::settings {

struct HotkeyItem {
  Text text;
  std::int16_t value;
};

// The list of hotkey function `list` (0..7): Ctrl+A..Ctrl+Z, Ctrl+F1..F16,
// Shift+F1..F16 and, except for the exit function (5), "無し" last.
std::vector<HotkeyItem> hotkeyItems(int list);

// The exit function must always keep a key.
inline bool hotkeyListHasNone(int list) { return list != 5; }

// The label beside list i.
Text hotkeyLabel(int list);

// Where list i stands in the dialog: column 0 or 1, row 0..3. The right
// column holds 4, 6, 7, 5 from top to bottom.
struct GridSlot {
  int column;
  int row;
};
GridSlot hotkeySlot(int list);

// The position that shows `value`: the first item with that value, else 0.
int hotkeyPosition(int list, std::int16_t value);

// The value at `position`; 65 ("Ctrl+A") for a position outside the list.
std::int16_t hotkeyValueAt(int list, int position);

// True when two lists stand at the same position on an item other than
// "無し".
bool hasDuplicateHotkeys(const std::array<int, kHotkeyCount>& positions);

}  // namespace tarvi::settings
