#include "monitor/cycle/deadline.h"

#include <gtest/gtest.h>

#include "tests/fakes/monitor_rig.h"

namespace tarvi::fakes {
namespace {

const std::string kTitle = "Tarviメールチェッカー";

TEST(SessionDeadline, ActivityRestartsOnlyARunningLimit) {
  for (bool clock : {true, false}) {
    FakeTimerDriver driver;
    driver.clock = clock;
    Timers timers(driver);
    GeneralSettings options;
    SessionDeadline deadline(timers, options);
    deadline.install();
    const auto applies = driver.applies;
    // A notification after the session was given up.
    deadline.activity();
    EXPECT_FALSE(timers.enabled(TimerId::sessionDeadline)) << clock;
    EXPECT_EQ(driver.applies, applies) << clock;
    // A running limit counts the notification: a minute from it again.
    deadline.start();
    driver.advance(30000);
    deadline.activity();
    if (clock) {
      driver.advance(30000);  // the tick, half a minute after the notification
      EXPECT_FALSE(deadline.tick());
      EXPECT_EQ(timers.interval(TimerId::sessionDeadline), 30000u);
    } else {
      EXPECT_EQ(driver.dueIn(TimerId::sessionDeadline), 60000u);
    }
  }
}

TEST(SessionDeadline, LimitEndsAStalledSessionAndTheCycleGoesOn) {
  for (int limit : {1, 2}) {
    MonitorRig rig;
    rig.addAccount(1, "Stalled").replies["STAT"] = "";  // accepted, then nothing ever again
    rig.addAccount(2, "Fine").messages = {message("a", "1")};
    rig.store.set("Timeupval", std::to_string(limit));
    ASSERT_TRUE(rig.start());
    rig.monitor.checkAll();
    rig.pump.runAll();
    rig.timers.advance(limit * 60000 - 1);
    EXPECT_EQ(rig.sock.sent.back(), "STAT") << limit;
    rig.timers.advance(1);
    EXPECT_EQ(rig.sock.sent.back(), "QUIT") << limit;
    EXPECT_EQ(std::count(rig.sock.sent.begin(), rig.sock.sent.end(), "USER user2"), 0) << limit;
    rig.timers.advance(1000);
    EXPECT_EQ(std::count(rig.sock.sent.begin(), rig.sock.sent.end(), "USER user2"), 1) << limit;
    rig.timers.advance(1000);
    EXPECT_EQ(rig.window.lastCaption(), "1通のメールが届いています!") << limit;
    // The stalled connection was closed when the next one opened.
    EXPECT_EQ(rig.sock.startups, rig.sock.cleanups) << limit;
    // The cycle is finished once.
    const auto captions = rig.window.captions.size();
    rig.timers.advance(5 * 60000);
    EXPECT_EQ(rig.window.captions.size(), captions) << limit;
  }
}

// A server whose TOP reply trickles in and never ends; the limit counts
// from the last notification. With a clock the notifications are only
// noted and the tick catches up; without one every notification restarts
// the timer. The limit must fall at the same moment either way.
struct SlowRig : MonitorRig {
  SlowRig(bool clock, const char* limit) {
    timers.clock = clock;
    auto& box = addAccount(1, "Slow");
    box.messages = {message("a", "1")};
    box.replies["TOP"] = "+OK\r\n";
    store.set("Timeupval", limit);
    EXPECT_TRUE(start());
    monitor.checkAll();
    pump.runAll();
  }
  void trickle() {
    sock.serverSends("X: y\r\n");
    pump.runAll();
  }
};

TEST(SessionDeadline, LimitFallsOneMinuteAfterTheLastNotification) {
  const struct {
    const char* name;
    const char* limit;
    std::vector<std::uint64_t> gaps;  // ms before each notification
  } cases[] = {
      {"none", "1", {}},
      {"one early", "1", {10}},
      {"just before the tick", "1", {59999}},
      {"just after a moved tick", "1", {59999, 2}},
      {"many small", "1", std::vector<std::uint64_t>(300, 700)},
      {"across two moved ticks", "1", {30000, 45000, 50000, 59000}},
      // The minutes already counted stay counted.
      {"a minute counted, then one", "2", {119000}},
  };
  for (auto& c : cases)
    for (bool clock : {false, true}) {
      SlowRig rig(clock, c.limit);
      std::uint64_t last = rig.timers.now;
      for (auto gap : c.gaps) {
        rig.timers.advance(gap);
        ASSERT_EQ(rig.sock.sent.back(), "TOP 1 5") << c.name << clock;
        rig.trickle();
        last = rig.timers.now;
      }
      rig.timers.advance(last + 60000 - 1 - rig.timers.now);
      EXPECT_EQ(rig.sock.sent.back(), "TOP 1 5") << c.name << clock;
      rig.timers.advance(1);
      EXPECT_EQ(rig.sock.sent.back(), "QUIT") << c.name << clock;
      // Setting a timer is a call into the window system: with a clock,
      // not one per notification.
      if (clock) {
        EXPECT_LT(rig.timers.applies[static_cast<int>(TimerId::sessionDeadline)], 12) << c.name;
      }
    }
}

TEST(SessionDeadline, MovedTickDoesNotShortenTheNextAccountsMinute) {
  // A's session ends while its tick is moved to a remainder. B's connect
  // never completes, so nothing but the limit moves the cycle on, a whole
  // minute after B started.
  MonitorRig rig;
  auto& a = rig.addAccount(1, "A");
  a.messages = {message("a", "1")};
  a.replies["TOP"] = "+OK\r\n";  // the rest comes later
  rig.addAccount(2, "B");
  rig.store.set("Timeupval", "1");
  ASSERT_TRUE(rig.start());
  rig.monitor.checkAll();
  rig.pump.runAll();
  rig.timers.advance(50000);
  rig.sock.serverSends("X: y\r\n");
  rig.pump.runAll();
  rig.timers.advance(15000);  // the tick has been moved to 110000
  rig.sock.serverSends("Subject: x\r\n.\r\n");  // A ends
  rig.pump.runAll();
  ASSERT_EQ(rig.sock.sent.back(), "QUIT");
  rig.sock.holdConnect = true;
  rig.timers.advance(1000);
  ASSERT_EQ(rig.window.lastCaption(), kTitle + " -チェック中:B-");
  // The limit; B was the last account, so the cycle ends right after it.
  rig.timers.advance(60010 - 1);
  EXPECT_EQ(rig.window.lastCaption(), kTitle + " -チェック中:B-");
  rig.timers.advance(1);
  EXPECT_EQ(rig.window.lastCaption(), "1通のメールが届いています!");
}

TEST(SessionDeadline, LateQuitReplyNeitherFinishesTheCycleTwiceNorRestartsTheLimit) {
  for (bool clock : {false, true}) {
    MonitorRig rig;
    rig.timers.clock = clock;
    auto& box = rig.addAccount(1, "A");
    box.replies["STAT"] = "";
    box.replies["QUIT"] = "";
    rig.store.set("Timeupval", "1");
    ASSERT_TRUE(rig.start());
    rig.monitor.checkAll();
    rig.pump.runAll();
    rig.timers.advance(61000);
    EXPECT_EQ(rig.window.lastCaption(), kTitle) << clock;
    const auto captions = rig.window.captions.size();
    rig.sock.serverSends("+OK bye\r\n");  // the QUIT reply, much later
    rig.pump.runAll();
    EXPECT_FALSE(rig.timers.running(TimerId::sessionDeadline)) << clock;
    rig.timers.advance(3 * 60000);
    EXPECT_EQ(rig.window.captions.size(), captions) << clock;
    EXPECT_EQ(rig.sock.current(), kNoSocket) << clock;  // closed in order after all
  }
}

}  // namespace
}  // namespace tarvi::fakes
