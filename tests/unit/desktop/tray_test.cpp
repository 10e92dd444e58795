#include "monitor/desktop/tray.h"

#include <gtest/gtest.h>

#include "tests/fakes/fake_desktop.h"

namespace tarvi {
namespace {

using Lines = std::vector<std::string>;

TEST(Tray, TooltipNamesTheProgramThenTheTotalAndTheTimeOfTheCheck) {
  EXPECT_EQ(toUtf8(trayTooltip(std::nullopt, std::nullopt)), "Tarviメールチェッカー");
  EXPECT_EQ(toUtf8(trayTooltip(3, LocalTime{9, 5})), "Tarviメールチェッカー\n3通 (09:05)");
  EXPECT_EQ(toUtf8(trayTooltip(0, LocalTime{23, 59})), "Tarviメールチェッカー\n0通 (23:59)");
  EXPECT_EQ(toUtf8(trayTooltip(1024, std::nullopt)), "Tarviメールチェッカー\n1024通");
}

TEST(Tray, BalloonCountsTheMailAndNamesEachAccountWithNewMail) {
  const BalloonText b = newMailBalloon(5, {u"仕事", u"自宅"});
  EXPECT_EQ(toUtf8(b.title), "5通のメールが届いています");
  EXPECT_EQ(toUtf8(b.text), "仕事\n自宅");
}

TEST(Tray, MenuEntriesAreTheHotkeyCommands) {
  Lines labels;
  std::vector<std::optional<HotkeyCommand>> commands;
  for (const auto& e : trayMenu()) {
    labels.push_back(toUtf8(e.label));
    commands.push_back(e.command);
  }
  EXPECT_EQ(labels, (Lines{"今すぐチェック", "ポップアップ", "設定...", "", "終了"}));
  EXPECT_EQ(commands, (std::vector<std::optional<HotkeyCommand>>{
                          HotkeyCommand::Check, HotkeyCommand::Popup, HotkeyCommand::Settings,
                          std::nullopt, HotkeyCommand::Quit}));
  EXPECT_EQ(kTrayClickCommand, HotkeyCommand::Popup);
}

TEST(Tray, OptionOffMeansNoCallAtAll) {
  fakes::FakeTrayIcon icon;
  GeneralSettings o;
  o.trayIcon = false;
  Tray tray(icon, o);
  tray.applyOption();
  tray.checkFinished(2, LocalTime{8, 0}, {u"A"});
  tray.newMailSeen();
  tray.totalChanged(0);
  tray.taskbarRecreated();
  tray.remove();
  EXPECT_TRUE(icon.calls.empty());
}

TEST(Tray, FollowsTheOptionAndComesBackAfterExplorerRestarts) {
  fakes::FakeTrayIcon icon;
  GeneralSettings o;
  Tray tray(icon, o);
  tray.applyOption();
  tray.applyOption();  // already there
  tray.checkFinished(2, LocalTime{8, 0}, {u"A"});
  tray.taskbarRecreated();  // added again with what it showed
  EXPECT_EQ(icon.calls, (Lines{"show", "update", "balloon", "show"}));
  EXPECT_EQ(icon.tooltip, "Tarviメールチェッカー\n2通 (08:00)");
  EXPECT_TRUE(icon.newMailPicture);
  o.trayIcon = false;
  tray.applyOption();
  tray.taskbarRecreated();
  tray.remove();
  EXPECT_EQ(icon.calls.back(), "remove");
  EXPECT_EQ(icon.calls.size(), 5u);
  o.trayIcon = true;
  tray.applyOption();  // what it showed before it went
  EXPECT_EQ(icon.calls.back(), "show");
  EXPECT_TRUE(icon.newMailPicture);
}

TEST(Tray, NoBalloonWithoutTheOptionOrWithoutNewMail) {
  fakes::FakeTrayIcon icon;
  GeneralSettings o;
  o.balloon = false;
  Tray tray(icon, o);
  tray.applyOption();
  tray.checkFinished(2, LocalTime{8, 0}, {u"A"});
  o.balloon = true;
  tray.checkFinished(2, LocalTime{8, 1}, {});
  EXPECT_EQ(icon.calls, (Lines{"show", "update", "update"}));
  EXPECT_TRUE(icon.balloons.empty());
}

}  // namespace
}  // namespace tarvi
