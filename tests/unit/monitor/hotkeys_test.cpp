#include "monitor/desktop/hotkeys.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <set>

namespace tarvi {
namespace {

struct FakeRegistrar : HotkeyRegistrar {
  std::map<Text, int> atoms;
  int nextAtom = 0xC000;
  std::map<int, std::pair<unsigned, unsigned>> registered;  // id -> (mods, vk)
  std::set<std::pair<unsigned, unsigned>> takenElsewhere;
  std::vector<int> deleted;
  bool sameAtomForAll = false;

  int addAtom(const Text& name) override {
    if (sameAtomForAll) return 0xC000;
    auto it = atoms.find(name);
    if (it != atoms.end()) return it->second;
    return atoms[name] = nextAtom++;
  }
  void deleteAtom(int atom) override {
    deleted.push_back(atom);
    for (auto it = atoms.begin(); it != atoms.end(); ++it)
      if (it->second == atom) {
        atoms.erase(it);
        break;
      }
  }
  bool registerKey(int id, unsigned mods, unsigned vk) override {
    for (auto& r : registered)
      if (r.second == std::make_pair(mods, vk)) return false;
    if (takenElsewhere.count({mods, vk})) return false;
    registered[id] = {mods, vk};
    return true;
  }
  void unregisterKey(int id) override { registered.erase(id); }
  void hookWindow() override {}
  void unhookWindow() override {}
};

struct FakeDialogs : Dialogs {
  std::vector<std::string> shown;
  std::deque<MsgAnswer> answers;
  MsgAnswer messageBox(const Text& text, const Text&, MsgButtons b, MsgIcon,
                       bool) override {
    shown.push_back(toUtf8(text));
    if (b == MsgButtons::Ok || answers.empty()) return MsgAnswer::Ok;
    auto a = answers.front();
    answers.pop_front();
    return a;
  }
};

struct HotkeysTest : ::testing::Test {
  FakeRegistrar reg;
  FakeDialogs dialogs;
  std::array<std::int16_t, kHotkeyCount> nums = {113, 114, 115, 116, 117, 118, 119, 120};
  Hotkeys hk{reg, dialogs, nums};
  std::vector<int> ran;
  int openOption = 0, ended = 0;

  void SetUp() override {
    for (int i = 0; i < kHotkeyCount; ++i) hk.commands[i] = [this, i] { ran.push_back(i); };
    hk.OpenOption = [this] { ++openOption; };
    hk.endMonitor = [this] { ++ended; };
  }
};

TEST_F(HotkeysTest, DefaultsRegisterCtrlF2ToF9AndDispatch) {
  hk.setupHotkeys(1);
  EXPECT_TRUE(dialogs.shown.empty());
  ASSERT_EQ(reg.registered.size(), 8u);
  for (int i = 0; i < kHotkeyCount; ++i) {
    EXPECT_EQ(reg.registered[hk.hotkeyId(i)], std::make_pair(2u, 113u + i));
    EXPECT_EQ(reg.atoms.at(kHotkeyFunctions[i].atom), hk.hotkeyId(i));
  }
  for (int i = kHotkeyCount - 1; i >= 0; --i) EXPECT_TRUE(hk.onHotkey(hk.hotkeyId(i)));
  EXPECT_EQ(ran, (std::vector<int>{7, 6, 5, 4, 3, 2, 1, 0}));
  EXPECT_FALSE(hk.onHotkey(0));
  EXPECT_FALSE(hk.onHotkey(12345));

  hk.setupHotkeys(0);
  EXPECT_TRUE(reg.registered.empty());
  EXPECT_TRUE(reg.atoms.empty());
  for (int i = 0; i < kHotkeyCount; ++i) EXPECT_EQ(hk.hotkeyId(i), 0);
}

TEST_F(HotkeysTest, ValueZeroIsSkippedSilentlyAndKeepsAnEarlierRegistration) {
  hk.setupHotkeys(1);
  const int before = hk.hotkeyId(3);
  nums[3] = 0;
  nums[0] = 0;
  hk.setupHotkeys(1);
  EXPECT_TRUE(dialogs.shown.empty());
  EXPECT_EQ(hk.hotkeyId(3), before);
  EXPECT_TRUE(reg.registered.count(before));
}

TEST_F(HotkeysTest, FailingKeyNamesFunctionAndKeyAndTheOthersStillWork) {
  const struct {
    std::int16_t value;
    unsigned mods, vk;
    const char* message;
  } cases[] = {
      {114, 2, 114, "メールチェックの起動キーCtrl+F3の設定に失敗しました"},
      {65, 2, 65, "メールチェックの起動キーCtrl+Aの設定に失敗しました"},
      {127, 2, 127, "メールチェックの起動キーCtrl+F16の設定に失敗しました"},
      {212, 4, 112, "メールチェックの起動キーShift+F1の設定に失敗しました"},
  };
  for (const auto& c : cases) {
    FakeRegistrar r;
    FakeDialogs d;
    auto n = nums;
    n[1] = c.value;
    r.takenElsewhere.insert({c.mods, c.vk});
    Hotkeys h{r, d, n};
    h.setupHotkeys(1);
    EXPECT_EQ(d.shown, std::vector<std::string>{c.message});
    EXPECT_EQ(r.registered.size(), 7u);
    EXPECT_NE(h.hotkeyId(1), 0);  // the atom of the failed attempt is held
    h.setupHotkeys(0);
    EXPECT_EQ(r.atoms.size(), 0u);
  }
}

TEST_F(HotkeysTest, DuplicateValueSecondFailsFirstKeepsWorking) {
  nums[4] = nums[2];
  hk.setupHotkeys(1);
  EXPECT_EQ(dialogs.shown, std::vector<std::string>{"メーラー2の起動キーCtrl+F4の設定に失敗しました"});
  hk.onHotkey(hk.hotkeyId(2));
  EXPECT_EQ(ran, std::vector<int>{2});
}

TEST_F(HotkeysTest, EighthFailureAsksToReconfigureOrQuit) {
  reg.takenElsewhere.insert({2, 120});
  dialogs.answers = {MsgAnswer::Yes};
  hk.setupHotkeys(1);
  ASSERT_EQ(dialogs.shown.size(), 2u);
  EXPECT_EQ(dialogs.shown[0], "切断の起動キーCtrl+F9の設定に失敗しました");
  EXPECT_EQ(dialogs.shown[1], "起動キーを設定し直してください\r\n「いいえ」で終了します。");
  EXPECT_EQ(openOption, 1);
  EXPECT_EQ(ended, 0);

  dialogs.shown.clear();
  dialogs.answers = {MsgAnswer::No};
  hk.setupHotkeys(1);
  EXPECT_EQ(dialogs.shown.size(), 2u);
  EXPECT_EQ(openOption, 1);
  EXPECT_EQ(ended, 1);
}

TEST_F(HotkeysTest, ReRegistrationReleasesTheOldIds) {
  hk.setupHotkeys(1);
  std::array<int, kHotkeyCount> old;
  for (int i = 0; i < kHotkeyCount; ++i) old[i] = hk.hotkeyId(i);
  nums[1] = 65;  // Ctrl+A instead of Ctrl+F3
  hk.setupHotkeys(0);
  hk.setupHotkeys(1);
  EXPECT_EQ(reg.deleted.size(), 8u);
  EXPECT_EQ(reg.registered.at(hk.hotkeyId(1)), std::make_pair(2u, 65u));
  for (auto& r : reg.registered) EXPECT_NE(r.second, std::make_pair(2u, 114u));
  (void)old;
}

TEST_F(HotkeysTest, DispatchTakesTheFirstFunctionWhenIdsRepeat) {
  reg.sameAtomForAll = true;  // every registration gets the same id
  nums = {0, 0, 65, 66, 0, 0, 0, 0};
  hk.setupHotkeys(1);
  hk.onHotkey(0xC000);
  EXPECT_EQ(ran, std::vector<int>{2});
}

}  // namespace
}  // namespace tarvi
