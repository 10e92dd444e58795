#include "monitor/desktop/hotkeys.h"

#include <gtest/gtest.h>

#include "tests/fakes/fake_desktop.h"
#include "tests/fakes/fake_dialogs.h"

namespace tarvi {
namespace {

using Texts = std::vector<std::string>;
constexpr unsigned kCtrl = kModControl << 16;
const std::string kAskAgain = "起動キーを設定し直してください\r\n「いいえ」で終了します。";

struct HotkeysTest : ::testing::Test {
  fakes::FakeRegistrar reg;
  fakes::FakeDialogs dialogs;
  std::array<std::int16_t, kHotkeyCount> keys = GeneralSettings{}.hotkeys;  // Ctrl+F2..F9
  Hotkeys hk{reg, dialogs, keys};
};

TEST_F(HotkeysTest, DefaultsRegisterCtrlF2ToF9UnderTheirAtomsAndMapToTheirCommands) {
  const HotkeyCommand commands[] = {HotkeyCommand::Settings, HotkeyCommand::Check,
                                    HotkeyCommand::Popup,    HotkeyCommand::Mailer1,
                                    HotkeyCommand::Mailer2,  HotkeyCommand::Quit,
                                    HotkeyCommand::Connect,  HotkeyCommand::Disconnect};
  EXPECT_EQ(hk.registerAll(), HotkeySetup::Done);
  EXPECT_TRUE(dialogs.boxes.empty());
  ASSERT_EQ(reg.registered.size(), 8u);
  for (int i = 0; i < kHotkeyCount; ++i) {
    const int id = hk.hotkeyId(i);
    EXPECT_EQ(reg.registered[id], kCtrl | (113u + i)) << i;
    EXPECT_EQ(reg.atoms[id], "VBSHOTKEY" + std::to_string(i));
    EXPECT_EQ(hk.commandFor(static_cast<std::uintptr_t>(id)), commands[i]) << i;
  }
  EXPECT_EQ(hk.commandFor(0), std::nullopt);
  EXPECT_EQ(hk.commandFor(12345), std::nullopt);

  hk.releaseAll();
  EXPECT_TRUE(reg.registered.empty());
  EXPECT_TRUE(reg.atoms.empty());
  for (int i = 0; i < kHotkeyCount; ++i) EXPECT_EQ(hk.hotkeyId(i), 0);
  EXPECT_EQ(hk.commandFor(0xC000), std::nullopt);
}

TEST_F(HotkeysTest, NoKeyIsSkippedSilentlyAndKeepsAnEarlierRegistration) {
  hk.registerAll();
  const int before = hk.hotkeyId(3);
  keys[3] = 0;
  keys[0] = -7;  // a damaged value is no key either
  EXPECT_EQ(hk.registerAll(), HotkeySetup::Done);
  EXPECT_TRUE(dialogs.boxes.empty());
  EXPECT_EQ(hk.hotkeyId(3), before);
  EXPECT_EQ(reg.registered.count(before), 1u);
  EXPECT_EQ(reg.atoms.size(), 8u);  // registering again renews, it does not leak
  EXPECT_EQ(reg.registered.size(), 8u);
}

TEST_F(HotkeysTest, AFailingKeyIsNamedWithItsFunctionAndTheOthersStillWork) {
  const struct {
    std::int16_t value;
    unsigned key;  // as the registrar sees it
    const char* message;
  } cases[] = {
      {114, kCtrl | 114, "メールチェックの起動キーCtrl+F3の設定に失敗しました"},
      {65, kCtrl | 65, "メールチェックの起動キーCtrl+Aの設定に失敗しました"},
      {127, kCtrl | 127, "メールチェックの起動キーCtrl+F16の設定に失敗しました"},
      {212, kModShift << 16 | 112, "メールチェックの起動キーShift+F1の設定に失敗しました"},
  };
  for (const auto& c : cases) {
    fakes::FakeRegistrar r;
    fakes::FakeDialogs d;
    auto k = keys;
    k[1] = c.value;
    r.taken = {c.key};
    Hotkeys h{r, d, k};
    EXPECT_EQ(h.registerAll(), HotkeySetup::Done) << c.message;
    EXPECT_EQ(d.texts(), Texts{c.message});
    EXPECT_EQ(r.registered.size(), 7u);
    EXPECT_NE(h.hotkeyId(1), 0);  // the atom of the failed attempt is held...
    h.releaseAll();
    EXPECT_TRUE(r.atoms.empty());  // ... and freed with the others
  }
}

TEST_F(HotkeysTest, TheEighthFailureAsksToChooseOtherKeysOrQuit) {
  reg.taken = {kCtrl | 120};
  for (MsgAnswer answer : {MsgAnswer::Yes, MsgAnswer::No}) {
    dialogs.boxes.clear();
    dialogs.answers = {MsgAnswer::Ok, answer};
    EXPECT_EQ(hk.registerAll(),
              answer == MsgAnswer::Yes ? HotkeySetup::Reconfigure : HotkeySetup::Quit);
    EXPECT_EQ(dialogs.texts(), (Texts{"切断の起動キーCtrl+F9の設定に失敗しました", kAskAgain}));
    EXPECT_EQ(dialogs.boxes[1].buttons, MsgButtons::YesNo);
  }
}

TEST_F(HotkeysTest, WithoutAtomsEveryKeyFailsAndNoIdDispatches) {
  reg.atomsFail = true;
  EXPECT_EQ(hk.registerAll(), HotkeySetup::Reconfigure);
  EXPECT_EQ(dialogs.boxes.size(), 9u);
  EXPECT_EQ(dialogs.texts().back(), kAskAgain);
  EXPECT_TRUE(reg.registered.empty());
  EXPECT_EQ(hk.commandFor(0), std::nullopt);
}

TEST_F(HotkeysTest, ReRegistrationReleasesTheOldKeys) {
  hk.registerAll();
  keys[1] = 65;  // Ctrl+A instead of Ctrl+F3
  hk.releaseAll();
  hk.registerAll();
  EXPECT_EQ(reg.atoms.size(), 8u);
  EXPECT_EQ(reg.registered.at(hk.hotkeyId(1)), kCtrl | 65);
  for (auto& [id, key] : reg.registered) EXPECT_NE(key, kCtrl | 114) << id;
}

}  // namespace
}  // namespace tarvi
