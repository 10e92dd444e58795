#include "monitor/cycle/check_cycle.h"

#include <gtest/gtest.h>

#include "tests/fakes/check_rig.h"

namespace tarvi {
namespace {

using fakes::CheckRig;

const std::string kTitle = "Tarviメールチェッカー";

std::vector<std::string> users(const fakes::FakeSocket& s) {
  std::vector<std::string> out;
  for (auto& c : s.sent)
    if (c.rfind("USER ", 0) == 0) out.push_back(c.substr(5));
  return out;
}

TEST(CheckCycle, ThreeAccountsSecondSkippedOneSecondApart) {
  CheckRig rig;
  rig.addAccount(1, "One").messages = {fakes::message("a", "1"), fakes::message("b", "2")};
  rig.addAccount(2, "Two", 0).messages = {fakes::message("c", "3")};
  rig.addAccount(3, "Three").messages = {fakes::message("d", "4")};
  rig.start();
  rig.cycle.checkmail();
  rig.pump.runAll();
  // The first session has ended; the next account waits for logontimer.
  EXPECT_EQ(users(rig.sock), std::vector<std::string>{"user1"});
  EXPECT_TRUE(rig.clock.running(TimerId::logontimer));
  EXPECT_EQ(rig.clock.dueIn(TimerId::logontimer), 1000u);
  rig.clock.advance(999);
  EXPECT_EQ(users(rig.sock), std::vector<std::string>{"user1"});
  rig.clock.advance(1);
  EXPECT_EQ(users(rig.sock), (std::vector<std::string>{"user1", "user3"}));
  rig.clock.advance(1000);
  EXPECT_EQ(rig.view.caption(), "3通のメールが届いています!");
  const std::vector<std::string> expected = {
      kTitle + " -チェック中:One-", kTitle + " -チェック中:Two-", kTitle + " -チェック中:Three-",
      "3通のメールが届いています!"};
  EXPECT_EQ(rig.view.captions, expected);
  EXPECT_TRUE(rig.tally.newMailFlg[1]);
  EXPECT_FALSE(rig.tally.newMailFlg[2]);
  EXPECT_TRUE(rig.tally.newMailFlg[3]);
  EXPECT_FALSE(rig.clock.running(TimerId::timeuptimer));
  EXPECT_TRUE(rig.clock.running(TimerId::checktimer) || rig.form.opt.Checktimerval == 0);
  EXPECT_EQ(rig.sock.startups, rig.sock.cleanups);
}

TEST(CheckCycle, NoAccounts) {
  CheckRig rig;
  rig.store.set("Option1value", "1");
  rig.start();
  bool lamp = false;
  rig.cycle.hooks.Lightbrink = [&] { lamp = true; };
  rig.cycle.checkmail();
  EXPECT_EQ(rig.view.caption(), kTitle);
  EXPECT_EQ(rig.view.shows, 0);
  EXPECT_FALSE(lamp);
}

TEST(CheckCycle, EndOfCycleAlerts) {
  const struct {
    const char* name;
    bool keepLast;  // second check of an unchanged mailbox with Option6value
    bool alerted;
  } cases[] = {{"new mail", false, true}, {"nothing new", true, false}};
  for (auto& c : cases) {
    CheckRig rig;
    rig.addAccount(1, "A").messages = {fakes::message("a", "1"), fakes::message("b", "2")};
    rig.addAccount(2, "B").messages = {fakes::message("a", "1"), fakes::message("b", "2"),
                                       fakes::message("c", "3")};
    rig.store.set("Option1value", "1");
    rig.store.set("Option2value", "1");
    rig.store.set("Option4value", "1");
    rig.store.set("Option6value", c.keepLast ? "1" : "0");
    rig.start();
    int lamp = 0, sound = 0, fill = 0, init = 0;
    rig.cycle.hooks.Lightbrink = [&] { ++lamp; };
    rig.cycle.hooks.playSounds = [&] { ++sound; };
    rig.cycle.hooks.fillGrid = [&] { ++fill; };
    rig.form.initGrid = [&] { ++init; };
    if (c.keepLast) {
      rig.cycle.checkmail();
      rig.pump.runAll();
      rig.clock.advance(5000);
      lamp = sound = fill = init = 0;
      rig.view.shows = 0;
      rig.form.timers.disable(TimerId::closetimer);  // the popup's own timer
    }
    rig.cycle.checkmail();
    rig.pump.runAll();
    rig.clock.advance(5000);
    EXPECT_EQ(rig.view.caption(), "5通のメールが届いています!") << c.name;
    EXPECT_EQ(fill, 1) << c.name;
    EXPECT_EQ(lamp, c.alerted ? 1 : 0) << c.name;
    EXPECT_EQ(sound, c.alerted ? 1 : 0) << c.name;
    EXPECT_EQ(init, c.alerted ? 1 : 0) << c.name;
    EXPECT_EQ(rig.view.shows, c.alerted ? 1 : 0) << c.name;
    EXPECT_EQ(rig.form.timers.enabled(TimerId::closetimer), c.alerted) << c.name;
  }
}

TEST(CheckCycle, HangUpRules) {
  const struct {
    int opt11, sopt11;
    bool newMail;
    bool hung;
  } cases[] = {
      {1, 1, true, false}, {1, 1, false, true}, {1, 0, true, true},
      {1, 0, false, true}, {0, 0, true, false}, {0, 0, false, false},
  };
  for (auto& c : cases) {
    CheckRig rig;
    auto& box = rig.addAccount(1, "A");
    if (c.newMail) box.messages = {fakes::message("a", "1")};
    rig.store.set("Option11value", std::to_string(c.opt11));
    rig.store.set("sOption11value", std::to_string(c.sopt11));
    rig.start();
    int hang = 0;
    rig.cycle.hooks.Hangfun = [&] { ++hang; };
    rig.cycle.checkmail();
    rig.pump.runAll();
    rig.clock.advance(2000);
    EXPECT_EQ(hang, c.hung ? 1 : 0) << c.opt11 << c.sopt11 << c.newMail;
  }
}

TEST(CheckCycle, ChecktimerEveryThirdMinute) {
  CheckRig rig;
  rig.addAccount(1, "A");
  rig.store.set("Checktimerval", "3");
  rig.start();
  std::vector<std::size_t> checksAtTick;
  int opened = 0;
  for (int tick = 1; tick <= 10; ++tick) {
    rig.clock.advance(rig.clock.dueIn(TimerId::checktimer));
    if (rig.sock.opened != opened) checksAtTick.push_back(static_cast<std::size_t>(tick));
    opened = rig.sock.opened;
    rig.clock.advance(5000);  // the session and the end of the cycle
  }
  EXPECT_EQ(checksAtTick, (std::vector<std::size_t>{3, 6, 9}));
  EXPECT_EQ(rig.cycle.timerFlg, 1);
}

TEST(CheckCycle, CheckPeriodDoesNotDriftByTheCycleLength) {
  // Each cycle takes a few seconds (one second between accounts); the end
  // of the cycle enables the already running check timer, which must not
  // start its minute again, nor must the hotkey check in between.
  CheckRig rig;
  rig.addAccount(1, "A");
  rig.addAccount(2, "B");
  rig.addAccount(3, "C");
  rig.store.set("Checktimerval", "1");
  rig.start();
  const std::uint64_t t0 = rig.clock.now;
  rig.clock.advance(90000);
  rig.cycle.checkmail();  // the check hotkey, half-way through a minute
  rig.clock.advance(4 * 60000 - 90000);
  std::vector<std::uint64_t> ticks;
  for (auto t : rig.clock.tickTimes(TimerId::checktimer)) ticks.push_back(t - t0);
  EXPECT_EQ(ticks, (std::vector<std::uint64_t>{60000, 120000, 180000, 240000}));
  EXPECT_GE(rig.sock.opened, 12);  // every cycle checked all three accounts
}

TEST(CheckCycle, CheckBetweenTwoAccountsIsNotCutShortByTheOldCycle) {
  // The first account's session has ended and the move to the second is
  // due in a second when the check key starts a new cycle; that move must
  // not take place, or it would close the new session of account 1.
  CheckRig rig;
  auto& a = rig.addAccount(1, "A");
  rig.addAccount(2, "B");
  rig.start();
  rig.cycle.checkmail();
  rig.pump.runAll();
  ASSERT_EQ(rig.sock.sent.back(), "QUIT");
  ASSERT_EQ(rig.sock.opened, 1);
  a.replies["STAT"] = "";  // this time account 1 is slow to answer
  rig.cycle.checkmail();
  rig.pump.runAll();
  rig.clock.advance(1500);
  EXPECT_EQ(rig.sock.opened, 2);
  EXPECT_EQ(rig.sock.lastPort, 1001);
  EXPECT_EQ(rig.sock.sent.back(), "STAT");
  EXPECT_NE(rig.sock.current(), kNoSocket);
}

TEST(CheckCycle, ChecktimerZeroNeverTicks) {
  CheckRig rig;
  rig.addAccount(1, "A");
  rig.store.set("Checktimerval", "0");
  rig.start();
  rig.clock.advance(60 * 60000);
  EXPECT_EQ(rig.sock.opened, 0);
  EXPECT_TRUE(rig.clock.tickTimes(TimerId::checktimer).empty());
  EXPECT_EQ(rig.cycle.timerFlg, 0);
}

TEST(CheckCycle, TimeLimitGivesUpAStalledServer) {
  for (int limit : {1, 2}) {
    CheckRig rig;
    auto& box = rig.addAccount(1, "Stalled");
    box.replies["STAT"] = "";  // accepted, then nothing ever again
    rig.addAccount(2, "Fine").messages = {fakes::message("a", "1")};
    rig.store.set("Timeupval", std::to_string(limit));
    rig.start();
    rig.cycle.checkmail();
    rig.pump.runAll();
    EXPECT_EQ(rig.sock.sent.back(), "STAT");
    rig.clock.advance(limit * 60000 - 1);
    EXPECT_EQ(rig.sock.sent.back(), "STAT") << limit;
    rig.clock.advance(1);
    EXPECT_EQ(rig.sock.sent.back(), "QUIT") << limit;
    EXPECT_EQ(users(rig.sock), std::vector<std::string>{"user1"});
    rig.clock.advance(1000);
    EXPECT_EQ(users(rig.sock), (std::vector<std::string>{"user1", "user2"})) << limit;
    rig.clock.advance(1000);
    EXPECT_EQ(rig.view.caption(), "1通のメールが届いています!") << limit;
    // The stalled connection was closed when the next one opened.
    EXPECT_EQ(rig.sock.startups, rig.sock.cleanups);
    // Nothing more happens afterwards: the cycle is finished once.
    const auto captions = rig.view.captions.size();
    rig.clock.advance(5 * 60000);
    EXPECT_EQ(rig.view.captions.size(), captions) << limit;
  }
}

TEST(CheckCycle, ActivityRestartsTheMinuteButKeepsTheCount) {
  // With a clock the transport only notes the time of each notification
  // and the tick catches up; the limit must fall at the same moment.
  for (bool lazy : {false, true}) {
    CheckRig rig;
    auto& box = rig.addAccount(1, "Slow");
    box.messages = {fakes::message("a", "1")};
    box.replies["TOP"] = "+OK\r\n";  // the reply trickles in and never ends
    rig.store.set("Timeupval", "2");
    rig.start();
    if (lazy) rig.transport.clock = [&] { return rig.clock.now; };
    rig.cycle.checkmail();
    rig.pump.runAll();
    rig.clock.advance(60000);  // first minute: count 2
    rig.clock.advance(59000);
    rig.sock.serverSends("Subject: x\r\n");  // restarts the minute
    rig.pump.runAll();
    rig.clock.advance(59000);
    EXPECT_EQ(rig.sock.sent.back(), "TOP 1 5") << lazy;
    rig.clock.advance(1000);
    EXPECT_EQ(rig.sock.sent.back(), "QUIT") << lazy;
  }
}

TEST(CheckCycle, TimeLimitFallsOneMinuteAfterTheLastOfManyNotifications) {
  // Notifications at irregular moments, some while the tick has already
  // been moved once; the limit (one minute) must end the session exactly
  // one minute after the last of them, and not one tick later or earlier.
  const struct {
    const char* name;
    std::vector<std::uint64_t> gaps;  // ms before each notification
  } cases[] = {
      {"none", {}},
      {"one early", {10}},
      {"just before the tick", {59999}},
      {"just after a moved tick", {59999, 2}},
      {"many small", std::vector<std::uint64_t>(300, 700)},
      {"across two moved ticks", {30000, 45000, 50000, 59000}},
  };
  for (auto& c : cases) {
    for (bool lazy : {false, true}) {
      CheckRig rig;
      auto& box = rig.addAccount(1, "Slow");
      box.messages = {fakes::message("a", "1")};
      box.replies["TOP"] = "+OK\r\n";  // never ends
      rig.store.set("Timeupval", "1");
      rig.start();
      if (lazy) rig.transport.clock = [&] { return rig.clock.now; };
      rig.cycle.checkmail();
      rig.pump.runAll();
      std::uint64_t last = rig.clock.now;  // the last notification so far
      for (auto gap : c.gaps) {
        rig.clock.advance(gap);
        ASSERT_EQ(rig.sock.sent.back(), "TOP 1 5") << c.name << lazy;
        rig.sock.serverSends("X: y\r\n");
        rig.pump.runAll();
        last = rig.clock.now;
      }
      rig.clock.advance(last + 60000 - 1 - rig.clock.now);
      EXPECT_EQ(rig.sock.sent.back(), "TOP 1 5") << c.name << lazy;
      rig.clock.advance(1);
      EXPECT_EQ(rig.sock.sent.back(), "QUIT") << c.name << lazy;
      const int timerCalls = rig.clock.applies[static_cast<int>(TimerId::timeuptimer)];
      if (lazy) {
        EXPECT_LT(timerCalls, 12) << c.name;  // not one per notification
      }
    }
  }
}

TEST(CheckCycle, MovedTickDoesNotShortenTheNextAccountsMinute) {
  // A's session ends while its tick is moved to a remainder. B never gets
  // a connection (no host), so nothing but the limit moves the cycle on,
  // a whole minute after B started.
  CheckRig rig;
  auto& a = rig.addAccount(1, "A");
  a.messages = {fakes::message("a", "1")};
  a.replies["TOP"] = "+OK\r\n";  // the rest comes later
  rig.addAccount(2, "B");
  rig.store.set("Hname2", "");
  rig.store.set("Timeupval", "1");
  rig.start();
  rig.transport.clock = [&] { return rig.clock.now; };
  rig.cycle.checkmail();
  rig.pump.runAll();
  rig.clock.advance(50000);
  rig.sock.serverSends("X: y\r\n");
  rig.pump.runAll();
  rig.clock.advance(10000);  // the tick is moved to 110000
  rig.clock.advance(5000);
  rig.sock.serverSends("Subject: x\r\n.\r\n");  // A ends
  rig.pump.runAll();
  ASSERT_EQ(rig.sock.sent.back(), "QUIT");
  rig.clock.advance(1000);  // B, one second later
  ASSERT_EQ(rig.view.caption(), kTitle + " -チェック中:B-");
  const std::uint64_t start = rig.clock.now;
  // The limit, then one second to the end of the cycle.
  rig.clock.advance(start + 61000 - 1 - rig.clock.now);
  EXPECT_EQ(rig.view.caption(), kTitle + " -チェック中:B-");
  rig.clock.advance(1);
  EXPECT_EQ(rig.view.caption(), "1通のメールが届いています!");
}

TEST(CheckCycle, LateQuitReplyDoesNotFinishTheCycleTwice) {
  CheckRig rig;
  auto& box = rig.addAccount(1, "A");
  box.replies["STAT"] = "";
  box.replies["QUIT"] = "";
  rig.store.set("Timeupval", "1");
  rig.start();
  rig.cycle.checkmail();
  rig.pump.runAll();
  rig.clock.advance(60000);
  rig.clock.advance(1000);
  const auto captions = rig.view.captions.size();
  EXPECT_EQ(rig.view.caption(), kTitle);
  rig.sock.serverSends("+OK bye\r\n");  // the QUIT reply, much later
  rig.pump.runAll();
  rig.clock.advance(3 * 60000);
  EXPECT_EQ(rig.view.captions.size(), captions);
  EXPECT_FALSE(rig.clock.running(TimerId::timeuptimer));
}

TEST(CheckCycle, NewCycleDuringASessionStartsFromTheFirstAccount) {
  CheckRig rig;
  rig.addAccount(1, "A").replies["STAT"] = "";
  rig.addAccount(2, "B");
  rig.start();
  rig.cycle.checkmail();
  rig.pump.runAll();
  rig.cycle.checkmail();  // the hotkey, while account 1 stalls
  rig.pump.runAll();
  EXPECT_EQ(users(rig.sock), (std::vector<std::string>{"user1", "user1"}));
  EXPECT_EQ(rig.tally.accountIdx, 1);
  EXPECT_EQ(rig.sock.startups - rig.sock.cleanups, 1);  // only the live connection
}

TEST(CheckCycle, LogonFailureWaitsForTheTimeLimit) {
  CheckRig rig;
  rig.addAccount(1, "A");
  rig.store.set("Hname1", "");
  rig.addAccount(2, "B");
  rig.store.set("Option3value", "1");
  rig.start();
  rig.cycle.checkmail();
  rig.pump.runAll();
  rig.clock.advance(30000);
  EXPECT_TRUE(users(rig.sock).empty());
  rig.clock.advance(31000);
  EXPECT_EQ(users(rig.sock), std::vector<std::string>{"user2"});
}

TEST(CheckCycle, StartupCheckThroughTheFormHook) {
  CheckRig rig;
  rig.addAccount(1, "A").messages = {fakes::message("a", "1")};
  rig.store.set("Option5value", "1");
  rig.cycle.install();
  rig.tally.noNotify = 1;
  ASSERT_TRUE(rig.form.load());
  rig.pump.runAll();
  rig.clock.advance(1000);
  EXPECT_EQ(rig.tally.noNotify, 0);
  EXPECT_EQ(rig.view.caption(), "1通のメールが届いています!");
}

}  // namespace
}  // namespace tarvi

namespace tarvi {
namespace {

TEST(CheckCycle, CycleStartWithoutConnectionShowsNoBox) {
  fakes::CheckRig rig;
  rig.addAccount(1, "A");
  rig.start();
  rig.cycle.checkmail();
  rig.pump.runAll();
  rig.clock.advance(2000);
  EXPECT_TRUE(rig.dialogs.boxes.empty());
  EXPECT_EQ(rig.view.caption(), "Tarviメールチェッカー");
}

}  // namespace
}  // namespace tarvi
