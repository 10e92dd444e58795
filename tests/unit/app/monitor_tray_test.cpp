// The monitor's notification-area icon: when it comes and goes, what it
// says, and that its clicks are the hotkeys' commands.
#include <gtest/gtest.h>

#include "monitor/app/monitor.h"
#include "tests/fakes/monitor_rig.h"

namespace tarvi::fakes {
namespace {

using Lines = std::vector<std::string>;
const std::string kTitle = "Tarviメールチェッカー";

// Two accounts; only the first has mail. The icon on.
struct TrayRig : MonitorRig {
  explicit TrayRig(bool icon = true) {
    store.set("Trayicon", icon ? "1" : "0");
    addAccount(1, "仕事").messages = {message("a", "1"), message("b", "2")};
    addAccount(2, "自宅");
    timers.timeOfDay = LocalTime{14, 7};
  }
};

TEST(MonitorTray, OptionOffMakesNoCallAtAll) {
  TrayRig rig(false);
  ASSERT_TRUE(rig.start());
  rig.store.set("Option1value", "1");
  rig.checkAll();
  rig.monitor.showPopup();
  rig.monitor.closePopup();
  rig.monitor.runSettingsProgram();
  rig.monitor.taskbarRecreated();
  EXPECT_TRUE(rig.monitor.queryUnload());
  EXPECT_TRUE(rig.tray.calls.empty());
}

TEST(MonitorTray, ShownAtLoadUpdatedAfterEachCheckRemovedAtUnload) {
  TrayRig rig;
  ASSERT_TRUE(rig.start());
  EXPECT_EQ(rig.tray.calls, (Lines{"show"}));
  EXPECT_EQ(rig.tray.tooltip, kTitle);
  EXPECT_FALSE(rig.tray.newMailPicture);

  rig.checkAll();
  EXPECT_EQ(rig.tray.calls, (Lines{"show", "update", "balloon"}));
  EXPECT_EQ(rig.tray.tooltip, kTitle + "\n2通 (14:07)");
  EXPECT_TRUE(rig.tray.newMailPicture);
  EXPECT_EQ(rig.tray.balloons, (Lines{"2通のメールが届いています|仕事"}));

  rig.dialogs.answers = {MsgAnswer::No};  // the unload cancelled: the icon stays
  EXPECT_FALSE(rig.monitor.queryUnload());
  EXPECT_TRUE(rig.tray.shown);
  EXPECT_TRUE(rig.monitor.queryUnload());
  EXPECT_FALSE(rig.tray.shown);
  EXPECT_EQ(rig.tray.calls.back(), "remove");
}

TEST(MonitorTray, NewMailPictureStaysUntilThePopupIsSeen) {
  TrayRig rig;
  rig.store.set("Option6value", "1");  // an unchanged mailbox is no news
  rig.store.set("Option1value", "1");  // the popup shown for new mail
  ASSERT_TRUE(rig.start());
  rig.checkAll();
  EXPECT_TRUE(rig.tray.newMailPicture);
  EXPECT_TRUE(rig.window.shown);  // shown for new mail, not yet closed

  rig.timers.timeOfDay = LocalTime{15, 30};
  rig.checkAll();  // nothing new: the news of the first check still waits
  ASSERT_FALSE(rig.state().accounts.anyNewMail());
  EXPECT_TRUE(rig.tray.newMailPicture);
  EXPECT_EQ(rig.tray.tooltip, kTitle + "\n2通 (15:30)");
  EXPECT_EQ(rig.tray.balloons.size(), 1u);

  rig.monitor.closePopup();
  EXPECT_FALSE(rig.tray.newMailPicture);

  rig.boxes[1002].messages = {message("c", "3")};
  rig.checkAll();
  EXPECT_TRUE(rig.tray.newMailPicture);
  EXPECT_EQ(rig.tray.balloons.back(), "3通のメールが届いています|自宅");
  rig.monitor.run(HotkeyCommand::Popup);
  EXPECT_FALSE(rig.tray.newMailPicture);
}

TEST(MonitorTray, MailProgramAndSettingsAlsoTakeTheNewMailPictureAway) {
  for (HotkeyCommand c : {HotkeyCommand::Mailer1, HotkeyCommand::Settings}) {
    TrayRig rig;
    rig.store.set("Mailerdir1", "C:\\m1.exe");
    rig.processes.files = {"C:\\m1.exe"};
    ASSERT_TRUE(rig.start());
    rig.checkAll();
    ASSERT_TRUE(rig.tray.newMailPicture);
    rig.monitor.run(c);
    EXPECT_FALSE(rig.tray.newMailPicture) << static_cast<int>(c);
  }
}

TEST(MonitorTray, SettingsProgramTurnsTheIconOffAndOn) {
  TrayRig rig;
  ASSERT_TRUE(rig.start());
  rig.processes.onStart = [&](const Text&) { rig.store.set("Trayicon", "0"); };
  rig.monitor.runSettingsProgram();
  EXPECT_EQ(rig.tray.calls, (Lines{"show", "remove"}));
  rig.checkAll();  // no icon, no call
  EXPECT_EQ(rig.tray.calls.size(), 2u);
  rig.processes.onStart = [&](const Text&) { rig.store.set("Trayicon", "1"); };
  rig.monitor.runSettingsProgram();
  EXPECT_EQ(rig.tray.calls.back(), "show");
  EXPECT_EQ(rig.tray.tooltip, kTitle + "\n2通 (14:07)");  // what the last check found
  EXPECT_TRUE(rig.tray.newMailPicture);
}

TEST(MonitorTray, NoBalloonWithBalloonOff) {
  TrayRig rig;
  rig.store.set("Balloon", "0");
  ASSERT_TRUE(rig.start());
  rig.checkAll();
  EXPECT_TRUE(rig.tray.balloons.empty());
  EXPECT_TRUE(rig.tray.newMailPicture);
}

}  // namespace
}  // namespace tarvi::fakes
