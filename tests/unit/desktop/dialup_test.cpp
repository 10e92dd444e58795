#include "monitor/desktop/dialup.h"

#include <gtest/gtest.h>

#include "tests/fakes/fake_desktop.h"
#include "tests/fakes/fake_dialogs.h"
#include "tests/fakes/fake_pump.h"
#include "tests/fakes/fake_store.h"
#include "tests/fakes/monitor_rig.h"

namespace tarvi {
namespace {

constexpr int kConnectsNever = -2, kDisconnects = -1;

struct DialRig {
  fakes::FakeStore store;
  fakes::FakePump pump;
  fakes::FakeDialogs dialogs;
  GeneralSettings opt;
  fakes::FakeDialup ras;
  Dialup dial{ras, pump, dialogs, store, opt};
};

TEST(Dialup, DialUpRules) {
  const struct {
    const char* name;
    std::vector<RasHandle> active;
    int polls;
    std::uint32_t dialResult;
    int redials;
    int result;
    int dials, hangups;
  } cases[] = {
      {"one line up", {7}, 0, 0, 0, 0, 0, 0},
      {"two lines up", {7, 8}, 0, 0, 0, 0, 1, 0},
      {"connects after polls", {}, 3, 0, 0, 0, 1, 0},
      {"disconnects, no redial", {}, kDisconnects, 0, 0, -1, 1, 1},
      {"disconnects, two redials", {}, kDisconnects, 0, 2, -1, 3, 3},
      {"negative redials dial once", {}, kDisconnects, 0, -3, -1, 1, 1},
      {"dial refused, one redial", {}, 0, 633, 1, -1, 2, 2},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    DialRig r;
    r.ras.active = c.active;
    r.ras.pollsToConnect = c.polls;
    r.ras.dialResult = c.dialResult;
    EXPECT_EQ(r.dial.dialUp(u"Office", c.redials), c.result);
    EXPECT_EQ(r.ras.count("dial Office"), c.dials);
    EXPECT_EQ(r.ras.count("hangup"), c.hangups);
    // Every attempt starts from no connection.
    for (RasHandle h : r.ras.dialHandlesIn) EXPECT_EQ(h, 0u);
    if (c.dials == 0) {
      EXPECT_EQ(r.ras.calls, std::vector<std::string>{"enum"});  // one look at the lines only
    }
    ASSERT_EQ(r.dialogs.boxes.size(), c.result == -1 ? 1u : 0u);
    if (c.result == -1) {
      EXPECT_EQ(r.dialogs.boxes[0].text, "接続できませんでした");
      EXPECT_EQ(r.dialogs.boxes[0].icon, MsgIcon::Critical);
      EXPECT_EQ(r.dialogs.boxes[0].title, "Tarviメールチェッカー");
    }
  }
}

TEST(Dialup, DialThatNeverEndsIsGivenUpAtTheTimeLimit) {
  for (auto [minutes, limitMs] : {std::pair{1, 60000ull}, {0, Dialup::kDialLimitMs}}) {
    DialRig r;
    fakes::FakeTimerDriver driver;
    Timers timers{driver};
    Dialup dial{r.ras, r.pump, r.dialogs, r.store, r.opt, &timers};
    r.opt.sessionLimitMinutes = static_cast<std::int16_t>(minutes);
    r.ras.pollsToConnect = kConnectsNever;
    r.pump.onIdle = [&] {
      driver.advance(1000);
      if (driver.now > 10 * 60000) r.ras.pollsToConnect = kDisconnects;  // fails rather than hangs
    };
    EXPECT_EQ(dial.dialUp(u"Office", 2), -1);
    EXPECT_EQ(driver.now, limitMs) << minutes;
    EXPECT_EQ(r.ras.count("dial Office"), 1);  // no redial after the limit
    EXPECT_EQ(r.ras.count("hangup"), 1);
    EXPECT_EQ(r.dialogs.texts(), std::vector<std::string>{"接続できませんでした"});
  }
}

// "終了" through its hotkey is served while the line is being dialled; once
// the monitor is unloaded the wait must end as every other wait does, and
// nothing more may be told or dialled for a window that is gone.
TEST(Dialup, DialWaitEndsWhenTheMonitorIsUnloaded) {
  DialRig r;
  r.ras.pollsToConnect = kConnectsNever;
  r.pump.onDoEvents = [&r] {
    r.pump.quit = r.pump.pumps >= 3;
    // A wait that ignores the unload ends here at the latest, so that the
    // test fails rather than hangs.
    if (r.pump.pumps >= 50) r.ras.pollsToConnect = kDisconnects;
  };
  EXPECT_EQ(r.dial.dialUp(u"Office", 2), -1);
  EXPECT_LE(r.pump.pumps, 3);
  EXPECT_EQ(r.ras.count("dial"), 1);
  EXPECT_TRUE(r.dialogs.boxes.empty());
}

TEST(Dialup, PollingPumpsMessagesAndIdlesBetweenPolls) {
  DialRig r;
  r.ras.pollsToConnect = 5;
  EXPECT_EQ(r.dial.dialUp(u"x", 0), 0);
  EXPECT_EQ(r.pump.pumps, 6);
  EXPECT_EQ(r.pump.idles, 5);
}

TEST(Dialup, ChosenEntryCountsFromTheEndOfThePhoneBook) {
  const struct {
    const char* position;  // nullptr: not stored
    std::vector<Text> book;
    std::optional<Text> entry;
  } cases[] = {
      {"2", {u"A", u"B", u"C"}, u"A"},
      {"0", {u"A", u"B", u"C"}, u"C"},
      {nullptr, {u"A", u"B"}, u"B"},
      {"-1", {u"A"}, std::nullopt},
      {"3", {u"A", u"B", u"C"}, std::nullopt},
      {"0", {}, std::nullopt},
      {"x", {u"A"}, std::nullopt},
  };
  for (auto& c : cases) {
    DialRig r;
    if (c.position) r.store.set("Defdialno", c.position);
    r.ras.phoneBook = c.book;
    EXPECT_EQ(r.dial.chosenEntry(), c.entry) << (c.position ? c.position : "absent");
  }
}

TEST(Dialup, MayLogon) {
  const struct {
    const char* name;
    bool periodicCheckRan, skipOffline;
    std::vector<Text> book;
    std::vector<RasHandle> active;
    int polls;
    bool goesOn;
    int dials;
  } cases[] = {
      {"no entry chosen, nothing dialled", false, false, {}, {}, kDisconnects, true, 0},
      {"entry dialled and connected", false, false, {u"Home"}, {}, 1, true, 1},
      {"entry fails", false, false, {u"Home"}, {}, kDisconnects, false, 1},
      {"line already up", false, true, {u"Home"}, {5}, kDisconnects, true, 0},
      {"after the first periodic check, no dialling", true, false, {u"Home"}, {}, kConnectsNever,
       true, 0},
      {"offline rule, no line", true, true, {u"Home"}, {}, kConnectsNever, false, 0},
      {"offline rule, line up", true, true, {u"Home"}, {5}, kConnectsNever, true, 0},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    DialRig r;
    r.opt.skipChecksOffline = c.skipOffline;
    r.ras.phoneBook = c.book;
    r.ras.active = c.active;
    r.ras.pollsToConnect = c.polls;
    r.store.set("Defdialno", "0");
    EXPECT_EQ(r.dial.mayLogon(c.periodicCheckRan), c.goesOn);
    EXPECT_EQ(r.ras.count("dial Home"), c.dials);
  }
}

TEST(Dialup, RedialCountFromTheSettings) {
  for (auto [stored, dials] : {std::pair{"2", 3}, {"-5", 1}}) {
    DialRig r;
    r.store.set("Redialval", stored);
    r.ras.phoneBook = {u"Home"};
    r.ras.pollsToConnect = kDisconnects;
    EXPECT_FALSE(r.dial.mayLogon(false)) << stored;
    EXPECT_EQ(r.ras.count("dial Home"), dials) << stored;
    EXPECT_EQ(r.dialogs.boxes.size(), 1u) << stored;  // told once, after the last attempt
  }
}

TEST(Dialup, ConnectHotkeyDialsTheChosenEntryOnly) {
  DialRig r;
  r.dial.connectHotkey();  // an empty phone book: nothing to dial
  EXPECT_EQ(r.ras.count("dial"), 0);
  r.ras.phoneBook = {u"Home", u"Work"};
  r.store.set("Defdialno", "1");
  r.dial.connectHotkey();
  EXPECT_EQ(r.ras.count("dial Home"), 1);
}

TEST(Dialup, HangUpTakesTheFirstLineOnly) {
  DialRig r;
  r.ras.active = {11, 12};
  r.dial.hangUp();
  EXPECT_EQ(r.ras.active, std::vector<RasHandle>{12});
  DialRig none;
  none.dial.hangUp();
  EXPECT_EQ(none.ras.count("hangup"), 0);
}

// The offline rule through the whole monitor: a periodic check without a
// line logs on nowhere and leaves no session timer running.
TEST(Dialup, AbandonedLogonStopsBothSessionTimers) {
  fakes::MonitorRig rig;
  rig.addAccount(1, "A");
  rig.store.set("Checktimerval", "1");
  rig.store.set("Option10value", "1");
  ASSERT_TRUE(rig.start());
  rig.timers.advance(60000);  // the first periodic check
  EXPECT_EQ(rig.sock.opened, 0);
  EXPECT_EQ(rig.ras.count("dial"), 0);
  EXPECT_FALSE(rig.monitor.timers().enabled(TimerId::sessionDeadline));
  EXPECT_FALSE(rig.monitor.timers().enabled(TimerId::nextAccount));
  EXPECT_TRUE(rig.dialogs.boxes.empty());
  rig.ras.active = {5};  // the line comes up: the next periodic check goes on
  rig.timers.advance(60000);
  rig.settle();
  EXPECT_EQ(rig.sock.opened, 1);
}

}  // namespace
}  // namespace tarvi
