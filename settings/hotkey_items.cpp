#include "settings/hotkey_items.h"

namespace tarvi::settings {

std::vector<HotkeyItem> hotkeyItems(int list) {
  std::vector<HotkeyItem> items;
  items.reserve(59);
  for (char16_t c = u'A'; c <= u'Z'; ++c) items.push_back({Text(u"Ctrl+") + c, static_cast<std::int16_t>(c)});
  for (int f = 1; f <= 16; ++f)
    items.push_back({u"Ctrl+F" + decimal(f) + u" キー", static_cast<std::int16_t>(111 + f)});
  for (int f = 1; f <= 16; ++f)
    items.push_back({u"Shift+F" + decimal(f) + u" キー", static_cast<std::int16_t>(211 + f)});
  if (hotkeyListHasNone(list)) items.push_back({u"無し", 0});
  return items;
}

Text hotkeyLabel(int list) {
  static const char16_t* const labels[kHotkeyCount] = {u"設定:",   u"ﾒｰﾙﾁｪｯｸ:", u"ﾎﾟｯﾌﾟｱｯﾌﾟ:",
                                                       u"ﾒｰﾗｰ1:", u"ﾒｰﾗｰ2:",   u"終了:",
                                                       u"接続:",  u"切断:"};
  return (list >= 0 && list < kHotkeyCount) ? Text(labels[list]) : Text();
}

GridSlot hotkeySlot(int list) {
  static const GridSlot slots[kHotkeyCount] = {{0, 0}, {0, 1}, {0, 2}, {0, 3},
                                               {1, 0}, {1, 3}, {1, 1}, {1, 2}};
  return (list >= 0 && list < kHotkeyCount) ? slots[list] : GridSlot{0, 0};
}

int hotkeyPosition(int list, std::int16_t value) {
  const auto items = hotkeyItems(list);
  for (std::size_t i = 0; i < items.size(); ++i)
    if (items[i].value == value) return static_cast<int>(i);
  return 0;
}

std::int16_t hotkeyValueAt(int list, int position) {
  const auto items = hotkeyItems(list);
  if (position < 0 || position >= static_cast<int>(items.size())) return items[0].value;
  return items[static_cast<std::size_t>(position)].value;
}

bool hasDuplicateHotkeys(const std::array<int, kHotkeyCount>& positions) {
  for (int i = 0; i < kHotkeyCount; ++i)
    for (int j = i + 1; j < kHotkeyCount; ++j)
      if (positions[i] == positions[j] && hotkeyValueAt(i, positions[i]) != 0) return true;
  return false;
}

}  // namespace tarvi::settings
