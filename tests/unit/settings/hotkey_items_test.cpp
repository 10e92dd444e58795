#include "settings/hotkey_items.h"

#include <gtest/gtest.h>

#include <set>

#include "common/hotkey_codec.h"

namespace tarvi::settings {
namespace {

TEST(HotkeyCodec, DecodesEachRangeToNameModifierAndKey) {
  struct Case {
    std::int16_t value;
    const char* name;
    unsigned mod, vk;
  } cases[] = {
      {0, "", 0, 0},           {-5, "", 0, 0},          {65, "Ctrl+A", 2, 65},
      {90, "Ctrl+Z", 2, 90},   {112, "Ctrl+F1", 2, 112}, {113, "Ctrl+F2", 2, 113},
      {127, "Ctrl+F16", 2, 127}, {212, "Shift+F1", 4, 112}, {227, "Shift+F16", 4, 127},
  };
  for (const auto& c : cases) {
    const HotkeyKey k = decodeHotkey(c.value);
    EXPECT_EQ(toUtf8(k.name), c.name) << c.value;
    EXPECT_EQ(k.modifiers, c.mod) << c.value;
    EXPECT_EQ(k.virtualKey, c.vk) << c.value;
    EXPECT_EQ(k.none(), c.value <= 0);
  }
}

TEST(HotkeyItems, TableHasTheOfferedKeysInOrder) {
  for (int list = 0; list < kHotkeyCount; ++list) {
    const auto items = hotkeyItems(list);
    ASSERT_EQ(items.size(), list == 5 ? 58u : 59u) << list;
    struct Probe {
      std::size_t pos;
      const char* text;
      std::int16_t value;
    } probes[] = {{0, "Ctrl+A", 65},           {25, "Ctrl+Z", 90},
                  {26, "Ctrl+F1 キー", 112},   {41, "Ctrl+F16 キー", 127},
                  {42, "Shift+F1 キー", 212},  {57, "Shift+F16 キー", 227}};
    for (const auto& p : probes) {
      EXPECT_EQ(toUtf8(items[p.pos].text), p.text);
      EXPECT_EQ(items[p.pos].value, p.value);
    }
    if (list != 5) {
      EXPECT_EQ(toUtf8(items[58].text), "無し");
      EXPECT_EQ(items[58].value, 0);
    }
    std::set<std::int16_t> values;
    for (const auto& it : items) {
      EXPECT_TRUE(values.insert(it.value).second) << "value twice: " << it.value;
      // The item text and the monitor's key name describe the same key.
      if (it.value != 0) {
        EXPECT_TRUE(it.text.starts_with(decodeHotkey(it.value).name));
      }
    }
  }
}

TEST(HotkeyItems, PositionOfStoredValue) {
  struct Case {
    int list;
    std::int16_t value;
    int pos;
  } cases[] = {{0, 113, 27}, {7, 120, 34}, {0, 0, 58}, {5, 0, 0},  // no "無し" in list 5
               {3, 228, 0},  {3, 91, 0},  {2, 212, 42}};
  for (const auto& c : cases) EXPECT_EQ(hotkeyPosition(c.list, c.value), c.pos) << c.list << "/" << c.value;
  EXPECT_EQ(hotkeyValueAt(5, 58), 65);  // past the end of the exit list
  EXPECT_EQ(hotkeyValueAt(0, -1), 65);
}

TEST(HotkeyItems, LabelsAndTwoColumnLayout) {
  EXPECT_EQ(toUtf8(hotkeyLabel(0)), "設定:");
  EXPECT_EQ(toUtf8(hotkeyLabel(5)), "終了:");
  EXPECT_EQ(toUtf8(hotkeyLabel(7)), "切断:");
  const int rightColumn[] = {4, 6, 7, 5};
  for (int row = 0; row < 4; ++row) {
    EXPECT_EQ(hotkeySlot(row).column, 0);
    EXPECT_EQ(hotkeySlot(row).row, row);
    EXPECT_EQ(hotkeySlot(rightColumn[row]).column, 1);
    EXPECT_EQ(hotkeySlot(rightColumn[row]).row, row);
  }
}

std::array<int, kHotkeyCount> defaults() { return {27, 28, 29, 30, 31, 32, 33, 34}; }

TEST(HotkeyItems, DuplicateCheck) {
  struct Case {
    const char* what;
    std::vector<std::pair<int, int>> set;  // list, position
    bool duplicate;
  } cases[] = {
      {"defaults", {}, false},
      {"two lists on Ctrl+F5", {{0, 30}, {3, 30}}, true},
      {"list 1 and list 3", {{1, 30}}, true},
      {"list 6 with list 0", {{6, 27}}, true},
      {"list 7 with list 4", {{7, 31}}, true},
      {"list 5 with list 6", {{5, 33}}, true},
      {"two 無し", {{0, 58}, {1, 58}}, false},
      {"all but exit 無し", {{0, 58}, {1, 58}, {2, 58}, {3, 58}, {4, 58}, {6, 58}, {7, 58}}, false},
      {"Ctrl+A twice", {{2, 0}, {7, 0}}, true},
      {"same letter, other lists differ", {{2, 0}}, false},
  };
  for (const auto& c : cases) {
    auto pos = defaults();
    for (auto [list, p] : c.set) pos[list] = p;
    EXPECT_EQ(hasDuplicateHotkeys(pos), c.duplicate) << c.what;
  }
}

}  // namespace
}  // namespace tarvi::settings
