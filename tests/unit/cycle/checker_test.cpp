#include "monitor/cycle/checker.h"

#include <gtest/gtest.h>

#include "tests/unit/pop3/session_rig.h"

namespace tarvi::fakes {
namespace {

const std::string kTitle = "Tarviメールチェッカー";

Lines users(const FakeSocket& s) {
  Lines out;
  for (auto& c : s.sent)
    if (c.rfind("USER ", 0) == 0) out.push_back(c.substr(5));
  return out;
}

TEST(Checker, EnabledAccountsInTurnOneSecondApart) {
  MonitorRig rig;
  rig.addAccount(1, "One").messages = {message("a", "1"), message("b", "2")};
  rig.addAccount(2, "Two", 0).messages = {message("c", "3")};
  rig.addAccount(3, "Three").messages = {message("d", "4")};
  rig.addAccount(4, "Four", 0).messages = {message("e", "5")};
  rig.store.set("Checktimerval", "1");
  ASSERT_TRUE(rig.start());
  const auto captions = rig.window.captions.size();
  rig.monitor.checkAll();
  rig.pump.runAll();
  // The first session has ended; the next account waits for its timer.
  EXPECT_EQ(users(rig.sock), Lines{"user1"});
  EXPECT_EQ(rig.timers.dueIn(TimerId::nextAccount), 1000u);
  rig.timers.advance(999);
  EXPECT_EQ(users(rig.sock), Lines{"user1"});
  rig.timers.advance(1);
  EXPECT_EQ(users(rig.sock), (Lines{"user1", "user3"}));
  // No enabled account is left after Three: no second to wait for the total.
  EXPECT_EQ(rig.timers.dueIn(TimerId::nextAccount), 10u);
  rig.timers.advance(10);
  EXPECT_EQ(Lines(rig.window.captions.begin() + static_cast<long>(captions), rig.window.captions.end()),
            (Lines{kTitle + " -チェック中:One-", kTitle + " -チェック中:Two-", kTitle + " -チェック中:Three-",
                   kTitle + " -チェック中:Four-", "3通のメールが届いています!"}));
  const auto& accounts = rig.state().accounts;
  EXPECT_TRUE(accounts.find(1)->newMail);
  EXPECT_FALSE(accounts.find(2)->newMail);
  EXPECT_TRUE(accounts.find(3)->newMail);
  // Each account keeps its own list while the others are checked.
  EXPECT_EQ(toUtf8(rig.item(1, 2).subject), "2");
  EXPECT_EQ(toUtf8(rig.item(3, 1).subject), "4");
  EXPECT_EQ(rig.monitor.checker().run(), Checker::Run::None);
  EXPECT_FALSE(rig.timers.running(TimerId::sessionDeadline));
  EXPECT_FALSE(rig.timers.running(TimerId::nextAccount));
  EXPECT_TRUE(rig.timers.running(TimerId::periodicCheck));
  EXPECT_TRUE(rig.dialogs.boxes.empty());
  EXPECT_EQ(rig.sock.startups, rig.sock.cleanups);
}

TEST(Checker, AccountCountShrunkToNothing) {
  MonitorRig rig;
  rig.addAccount(1, "A").messages = {message("a", "1")};
  rig.store.set("Option1value", "1");
  ASSERT_TRUE(rig.start());
  rig.store.set("accountno", "0");
  ASSERT_TRUE(rig.monitor.loadSettings());
  rig.checkAll();
  EXPECT_EQ(rig.window.lastCaption(), kTitle);
  EXPECT_EQ(rig.sock.opened, 0);
  EXPECT_EQ(rig.window.shows, 0);
  EXPECT_FALSE(rig.monitor.timers().enabled(TimerId::lampBlink));
}

TEST(Checker, AlertsAtTheEndOfTheCycle) {
  for (bool unchanged : {false, true}) {  // a second check of the same mailboxes
    MonitorRig rig;
    rig.addAccount(1, "A").messages = {message("a", "1"), message("b", "2")};
    rig.addAccount(2, "B").messages = {message("a", "1"), message("b", "2"), message("c", "3")};
    for (const char* key : {"Option1value", "Option2value", "Option4value", "Option6value"})
      rig.store.set(key, "1");
    ASSERT_TRUE(rig.start());
    if (unchanged) {
      rig.checkAll();
      rig.monitor.closePopup();
      rig.monitor.timers().disable(TimerId::popupAutoClose);
      rig.settle(2);
      rig.window.shows = 0;
      rig.sound.played.clear();
    }
    rig.monitor.checkAll();
    rig.pump.runAll();
    rig.timers.advance(2000);
    const bool alerted = !unchanged;
    EXPECT_EQ(rig.window.lastCaption(), "5通のメールが届いています!") << unchanged;
    EXPECT_EQ(rig.window.rows, 6) << unchanged;  // listed either way
    EXPECT_EQ(rig.monitor.timers().enabled(TimerId::lampBlink), alerted) << unchanged;
    EXPECT_EQ(rig.sound.played, alerted ? Lines{"beep"} : Lines{}) << unchanged;
    EXPECT_EQ(rig.window.shows, alerted ? 1 : 0) << unchanged;
    EXPECT_EQ(rig.monitor.timers().enabled(TimerId::popupAutoClose), alerted) << unchanged;
  }
}

TEST(Checker, HangUpRules) {
  const struct {
    bool hangUp, stayWithNewMail, newMail, hung;
  } cases[] = {
      {true, true, true, false},  {true, true, false, true},  {true, false, true, true},
      {true, false, false, true}, {false, false, true, false}, {false, false, false, false},
  };
  for (auto& c : cases) {
    MonitorRig rig;
    auto& box = rig.addAccount(1, "A");
    if (c.newMail) box.messages = {message("a", "1")};
    rig.store.set("Option11value", c.hangUp ? "1" : "0");
    rig.store.set("sOption11value", c.stayWithNewMail ? "1" : "0");
    rig.ras.active = {7};
    ASSERT_TRUE(rig.start());
    rig.checkAll();
    EXPECT_EQ(rig.ras.count("hangup 7"), c.hung ? 1 : 0) << c.hangUp << c.stayWithNewMail << c.newMail;
  }
}

TEST(Checker, ReportOnlyChangesTakesAnotherSizeOfTheSameCountForAChange) {
  MonitorRig rig;
  auto& box = rig.addAccount(1, "A");
  box.messages = {message("a", "1"), message("b", "2")};
  rig.store.set("Option6value", "1");
  ASSERT_TRUE(rig.start());
  rig.checkAll();
  box.messages[1] = message("b", "a longer subject");
  const auto before = rig.sock.sent.size();
  rig.checkAll();
  EXPECT_EQ(rig.sentSince(before), checkDialogue(2));
  EXPECT_TRUE(rig.state().accounts.find(1)->newMail);
  EXPECT_EQ(toUtf8(rig.item(1, 2).subject), "a longer subject");
}

TEST(Checker, PeriodicCheckEveryIntervalMinutes) {
  const struct {
    const char* minutes;
    std::vector<int> checkedAt;  // minutes
  } cases[] = {{"3", {3, 6, 9}}, {"1", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}}, {"0", {}}};
  for (auto& c : cases) {
    MonitorRig rig;
    rig.addAccount(1, "A");
    rig.store.set("Checktimerval", c.minutes);
    ASSERT_TRUE(rig.start());
    std::vector<int> checkedAt;
    for (int minute = 1; minute <= 10; ++minute) {
      const int opened = rig.sock.opened;
      rig.timers.advance(60000);
      if (rig.sock.opened != opened) checkedAt.push_back(minute);
    }
    EXPECT_EQ(checkedAt, c.checkedAt) << c.minutes;
    EXPECT_EQ(rig.timers.tickTimes(TimerId::periodicCheck).empty(), c.checkedAt.empty()) << c.minutes;
  }
}

TEST(Checker, CheckPeriodDoesNotDriftByTheCycleLength) {
  // Each cycle takes a few seconds; the end of a cycle enables the running
  // periodic timer, which must not start its minute again, nor must the
  // check key in between.
  MonitorRig rig;
  for (int a = 1; a <= 3; ++a) rig.addAccount(a, "A" + std::to_string(a));
  rig.store.set("Checktimerval", "1");
  ASSERT_TRUE(rig.start());
  const std::uint64_t t0 = rig.timers.now;
  rig.timers.advance(90000);
  rig.monitor.checkAll();
  rig.timers.advance(4 * 60000 - 90000);
  std::vector<std::uint64_t> ticks;
  for (auto t : rig.timers.tickTimes(TimerId::periodicCheck)) ticks.push_back(t - t0);
  EXPECT_EQ(ticks, (std::vector<std::uint64_t>{60000, 120000, 180000, 240000}));
  // Every cycle checked all three accounts; the last has only begun.
  EXPECT_EQ(rig.sock.opened, 3 + 3 * 3 + 1);
}

TEST(Checker, NewCycleStartsFromTheFirstAccountAndOwesTheOldOneNothing) {
  MonitorRig rig;
  auto& a = rig.addAccount(1, "A");
  rig.addAccount(2, "B");
  ASSERT_TRUE(rig.start());
  rig.monitor.checkAll();
  rig.pump.runAll();
  ASSERT_EQ(rig.sock.sent, checkDialogue(0));
  // The check key while the move to account 2 is due: that move must not
  // take place, or it would close the new session of account 1.
  a.replies["STAT"] = "";  // this time account 1 is slow to answer
  rig.monitor.checkAll();
  rig.pump.runAll();
  rig.timers.advance(1500);
  EXPECT_EQ(rig.sock.opened, 2);
  EXPECT_EQ(rig.sock.lastPort, 1001);
  // The check key again, while account 1 stalls: its connection is asked
  // to QUIT, and the new cycle starts from account 1.
  rig.monitor.checkAll();
  rig.pump.runAll();
  const Lines stalled = {"USER user1", "PASS pw1", "STAT"};
  EXPECT_EQ(rig.sentSince(4), stalled + Lines{"QUIT"} + stalled);
  EXPECT_EQ(rig.monitor.checker().account(), 1);
  EXPECT_EQ(rig.sock.startups - rig.sock.cleanups, 1);  // only the live connection
}

TEST(Checker, LogonFailureHandsOnAtOnce) {
  // A logon that never connects is over once it has been reported: the
  // next account follows a second later, with a time limit or without one,
  // and a new cycle sends no QUIT to a socket that never was.
  for (bool boxes : {true, false})
    for (const char* limit : {"1", "0"}) {
      const std::string what = std::to_string(boxes) + " limit " + limit;
      MonitorRig rig;
      rig.addAccount(1, "A");
      rig.store.set("Hname1", "");
      rig.addAccount(2, "B");
      rig.store.set("Option3value", boxes ? "0" : "1");
      rig.store.set("Timeupval", limit);
      ASSERT_TRUE(rig.start());
      for (int cycle = 1; cycle <= 2; ++cycle) {
        rig.monitor.checkAll();
        rig.pump.runAll();
        rig.timers.advance(1000);
        EXPECT_EQ(users(rig.sock).size(), static_cast<std::size_t>(cycle)) << what;
      }
      EXPECT_EQ(users(rig.sock), (Lines{"user2", "user2"})) << what;
      EXPECT_EQ(rig.dialogs.texts(), boxes ? (Lines{"相手先が指定されていません", "相手先が指定されていません"})
                                           : Lines{})
          << what;
    }
}

}  // namespace
}  // namespace tarvi::fakes
