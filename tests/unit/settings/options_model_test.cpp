#include "settings/options_model.h"

#include <gtest/gtest.h>

#include "settings/hotkey_items.h"
#include "tests/fakes/fake_store.h"

namespace tarvi::settings {
namespace {

using fakes::FakeStore;

TEST(OptionsModel, EmptyStoreShowsTheDefaults) {
  FakeStore store;
  const OptionsForm f = loadOptions(store, 3);
  const std::array<bool, kCheckBoxes> checks = {false, false, true,  true,  false, false, false,
                                                false, false, false, false, false, true,  true,
                                                true,   // the fast check is on by default
                                                true};  // and so is quiet
  EXPECT_EQ(f.checks, checks);
  EXPECT_EQ(f.timers, (std::array<Text, 4>{u"0", u"0", u"1", u"5"}));
  EXPECT_EQ(f.mailers, (std::array<Text, 2>{}));
  EXPECT_EQ(f.wav, u"");
  EXPECT_EQ(f.dialPosition, 0);
  EXPECT_EQ(f.redial, u"0");
  for (int i = 0; i < kHotkeyCount; ++i)
    EXPECT_EQ(toUtf8(hotkeyItems(i)[f.hotkeys[i]].text), "Ctrl+F" + std::to_string(2 + i) + " キー");
  const Enables e = enablesFor(f);
  EXPECT_FALSE(e.closeTimer);
  EXPECT_TRUE(e.lampTimer);
  EXPECT_FALSE(e.wav);
  EXPECT_TRUE(store.writes.empty());
}

TEST(OptionsModel, StoredValuesAndOddOnes) {
  FakeStore store;
  store.set("Option2value", "1");
  store.set("Option4value", "0");
  store.set("Decodeall", "0");
  store.set("Fastcheck", "0");
  store.set("Checktimerval", "15");
  store.set("Mailerdir1", "C:\\メール\\m.exe");
  store.set("Hotkeynum5", "0");        // list 5 has no "無し": shows Ctrl+A
  store.set("Hotkeynum1", "91");       // a value no item has
  store.set("Hotkeynum2", "227");
  store.set("Defdialno", "2");
  store.set("Redialval", "x");         // damaged: the default stays
  const OptionsForm f = loadOptions(store, 3);
  EXPECT_TRUE(f.checks[1]);
  EXPECT_FALSE(f.checks[3]);
  EXPECT_FALSE(f.checks[12]);
  EXPECT_FALSE(f.checks[14]);
  EXPECT_EQ(f.timers[0], u"15");
  EXPECT_EQ(toUtf8(f.mailers[0]), "C:\\メール\\m.exe");
  EXPECT_EQ(f.hotkeys[5], 0);
  EXPECT_EQ(f.hotkeys[1], 0);
  EXPECT_EQ(f.hotkeys[2], 57);
  EXPECT_EQ(f.dialPosition, 2);
  EXPECT_EQ(f.redial, u"0");
  EXPECT_EQ(loadOptions(store, 2).dialPosition, -1);  // no such entry any more
  EXPECT_EQ(loadOptions(store, 0).dialPosition, -1);
  store.set("Defdialno", "-1");
  EXPECT_EQ(loadOptions(store, 3).dialPosition, -1);
}

TEST(OptionsModel, DependentCheckBoxes) {
  OptionsForm f;
  f.timers = {u"3", u"20", u"1", u"9"};
  f.wav = u"a.wav";
  f.checks[0] = false;
  applyCheckClick(f, 0);
  EXPECT_EQ(f.timers[1], u"0");
  f.checks[3] = true;
  applyCheckClick(f, 3);  // checking keeps the value
  EXPECT_EQ(f.timers[3], u"9");
  f.checks[3] = false;
  applyCheckClick(f, 3);
  EXPECT_EQ(f.timers[3], u"0");
  f.checks[1] = false;
  applyCheckClick(f, 1);
  EXPECT_EQ(f.wav, u"a.wav");
  EXPECT_EQ(f.timers[0], u"3");
}

TEST(OptionsModel, TimerBoxConversion) {
  struct Case {
    const char16_t* text;
    int value;  // -1: invalid
  } cases[] = {{u"0", 0},     {u"5", 5},        {u" 12 ", 12},     {u"+7", 7},      {u"32767", 32767},
               {u"32768", -1}, {u"-1", -1},     {u"", -1},         {u"  ", -1},     {u"abc", -1},
               {u"1a", -1},    {u"2.4", 2},     {u"2.5", 2},       {u"3.5", 4},     {u"2.51", 3},
               {u"0.5", 0},    {u"-0.4", 0},    {u".6", 1},        {u"5.", 5},      {u".", -1},
               {u"32767.4", 32767}, {u"32767.5", -1}, {u"１", -1}, {u"99999999999999999999", -1}};
  for (const auto& c : cases) {
    auto v = parseTimerText(c.text);
    if (c.value < 0) {
      EXPECT_FALSE(v) << toUtf8(c.text);
    } else {
      EXPECT_EQ(v, std::optional<std::int16_t>(c.value)) << toUtf8(c.text);
    }
  }
}

TEST(OptionsModel, LogonCommandIsTheQuotedMonitorBesideTheSettingsProgram) {
  EXPECT_EQ(toUtf8(logonCommand(u"C:\\Program Files\\Tarvi")),
            "\"C:\\Program Files\\Tarvi\\tarvimon.exe\"");
  EXPECT_EQ(toUtf8(logonCommand(u"C:\\")), "\"C:\\tarvimon.exe\"");
}

TEST(OptionsModel, RedialAndPortAreWholeNumbers) {
  struct Case {
    const char16_t* text;
    int redial, port;  // -1: refused
  } cases[] = {{u"0", 0, -1},       {u"1", 1, 1},          {u"110", 110, 110},  {u"32767", 32767, 32767},
               {u"32768", -1, -1},  {u"65535", -1, -1},    {u"-1", -1, -1},     {u"1.5", -1, -1},
               {u"", -1, -1},       {u"x", -1, -1},        {u" 995 ", 995, 995}};
  for (const auto& c : cases) {
    auto r = parseRedialText(c.text);
    auto p = parsePortText(c.text);
    EXPECT_EQ(r ? *r : -1, c.redial) << toUtf8(c.text);
    EXPECT_EQ(p ? *p : -1, c.port) << toUtf8(c.text);
  }
}

TEST(OptionsModel, OkGateFollowsEveryBox) {
  OkGate gate;
  EXPECT_TRUE(gate.okEnabled());
  EXPECT_FALSE(gate.check(1, u"-3"));
  EXPECT_FALSE(gate.check(2, u"abc"));
  EXPECT_FALSE(gate.check(1, u"4"));  // box 2 is still wrong
  EXPECT_TRUE(gate.check(2, u""  u"0"));
  EXPECT_FALSE(gate.check(OkGate::kRedial, u"1.5"));  // no fraction for the redial count
  EXPECT_FALSE(gate.check(4, u"7"));
  EXPECT_TRUE(gate.check(OkGate::kRedial, u"3"));
  EXPECT_FALSE(gate.check(3, u""));
  EXPECT_TRUE(gate.check(3, u"1"));
}

TEST(OptionsModel, SaveWritesEveryKeyInOrder) {
  OptionsForm f;
  f.checks = {true, false, true, false, true, false, true, false, true, false, true, true, false, false, false, false};
  f.timers = {u"10", u"2.5", u" 3", u"0"};
  f.mailers = {u"", u"C:\\b.exe"};
  f.wav = u"";
  f.dialPosition = -1;
  f.redial = u"4";
  f.hotkeys = {0, 25, 26, 41, 42, 57, 58, 58};
  auto s = collectOptions(f);
  ASSERT_TRUE(s);
  FakeStore store;
  saveOptions(store, *s, 7);
  std::vector<std::string> keys;
  for (const auto& k : store.writes) keys.push_back(toUtf8(k));
  const std::vector<std::string> order = {
      "accountno",     "Option1value",  "Option2value",  "Option3value",  "Option4value",
      "Option5value",  "Option6value",  "Option7value",  "Option8value",  "Option9value",
      "Option10value", "Option11value", "sOption11value", "Decodeall",     "Trayicon",      "Balloon",       "Fastcheck",     "Quiet",         "Checktimerval",
      "Closetimerval",
      "Timeupval",     "Lighttimerval", "Mailerdir1",    "Mailerdir2",    "Wavdir",
      "Defdialno",     "Redialval",     "Hotkeynum0",    "Hotkeynum1",    "Hotkeynum2",
      "Hotkeynum3",    "Hotkeynum4",    "Hotkeynum5",    "Hotkeynum6",    "Hotkeynum7"};
  EXPECT_EQ(keys, order);
  const std::vector<std::pair<const char*, const char*>> values = {
      {"accountno", "7"},      {"Option1value", "1"},   {"Option2value", "0"},
      {"sOption11value", "1"}, {"Decodeall", "0"},     {"Trayicon", "0"},      {"Balloon", "1"},
      {"Fastcheck", "0"},      {"Quiet", "0"},  // once unchecked, stored
      {"Checktimerval", "10"}, {"Closetimerval", "2"},
      {"Timeupval", "3"},      {"Lighttimerval", "0"},  {"Mailerdir1", ""},
      {"Mailerdir2", "C:\\b.exe"}, {"Wavdir", ""},      {"Defdialno", "-1"},
      {"Redialval", "4"},      {"Hotkeynum0", "65"},    {"Hotkeynum1", "90"},
      {"Hotkeynum2", "112"},   {"Hotkeynum3", "127"},   {"Hotkeynum4", "212"},
      {"Hotkeynum5", "227"},   {"Hotkeynum6", "0"},     {"Hotkeynum7", "0"}};
  for (auto [k, v] : values) EXPECT_EQ(store.at(k), v) << k;
}

TEST(OptionsModel, LoadThenSaveKeepsTheStore) {
  FakeStore store;
  store.set("accountno", "2");
  store.set("Option6value", "1");
  store.set("Timeupval", "3");
  store.set("Wavdir", "C:\\ding.wav");
  store.set("Hotkeynum3", "0");
  store.set("Defdialno", "1");
  store.set("Redialval", "2");
  store.set("Trayicon", "0");
  store.set("Balloon", "0");  // no box shows it, and OK keeps it all the same
  store.set("Legacypw", "1");  // nor this one
  store.set("Quiet", "0");
  const FakeStore before = store;
  auto s = collectOptions(loadOptions(store, 2));
  ASSERT_TRUE(s);
  saveOptions(store, *s, readAccountCount(store));
  for (const auto& [k, v] : before.values) EXPECT_EQ(store.values[k], v) << toUtf8(k);
  EXPECT_EQ(store.at("Hotkeynum0"), "113");
  EXPECT_EQ(store.at("Option3value"), "1");
}

TEST(OptionsModel, InvalidBoxesAreNeverSaved) {
  for (int box = 0; box < 5; ++box) {
    OptionsForm f = loadOptions(FakeStore{}, 0);
    if (box < 4) f.timers[box] = u"-1";
    else f.redial = u"40000";
    EXPECT_FALSE(collectOptions(f)) << box;
  }
}

TEST(OptionsModel, OkRefusesWithoutWriting) {
  struct Case {
    const char* what;
    int list, position;
    const char16_t* timer1;
    OkOutcome outcome;
  } cases[] = {{"defaults", 0, 27, u"0", OkOutcome::Saved},
               {"list 0 on list 3's Ctrl+F5", 0, 30, u"0", OkOutcome::DuplicateHotkeys},
               {"list 7 on list 5's Ctrl+F7", 7, 32, u"0", OkOutcome::DuplicateHotkeys},
               {"list 0 none", 0, 58, u"0", OkOutcome::Saved},
               {"negative timer", 0, 27, u"-2", OkOutcome::InvalidBox},
               {"duplicate wins over the timer", 1, 27, u"x", OkOutcome::DuplicateHotkeys}};
  for (const auto& c : cases) {
    FakeStore store;
    OptionsForm f = loadOptions(store, 0);
    f.hotkeys[c.list] = c.position;
    f.timers[0] = c.timer1;
    EXPECT_EQ(pressOk(store, f, 2), c.outcome) << c.what;
    EXPECT_EQ(store.writes.empty(), c.outcome != OkOutcome::Saved) << c.what;
    if (c.outcome == OkOutcome::Saved) {
      EXPECT_EQ(store.at("accountno"), "2");
    }
  }
}

TEST(OptionsModel, AccountCountAndWidthReset) {
  FakeStore store;
  EXPECT_EQ(readAccountCount(store), 0);
  store.set("accountno", "-4");
  EXPECT_EQ(readAccountCount(store), 0);
  store.set("accountno", "x");
  EXPECT_EQ(readAccountCount(store), 0);
  store.set("accountno", "21");
  EXPECT_EQ(readAccountCount(store), 21);
  store.set("frmWidth", "9999");
  store.set("grdWidth3", "1");
  resetGridWidths(store);
  const char* widths[] = {"260", "260", "130", "2740", "4770", "300"};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(store.at("grdWidth" + std::to_string(i)), widths[i]);
  EXPECT_EQ(store.at("frmWidth"), "9999");
  EXPECT_EQ(store.at("frmHeight"), "<absent>");
}

TEST(OptionsModel, DialListIsReversed) {
  EXPECT_EQ(dialListItems({u"A", u"B", u"C"}), (std::vector<Text>{u"C", u"B", u"A"}));
  EXPECT_TRUE(dialListItems({}).empty());
  // Choosing A (position 2) stores 2.
  OptionsForm f = loadOptions(FakeStore{}, 3);
  f.dialPosition = 2;
  FakeStore store;
  saveOptions(store, *collectOptions(f), 0);
  EXPECT_EQ(store.at("Defdialno"), "2");
}

}  // namespace
}  // namespace tarvi::settings
