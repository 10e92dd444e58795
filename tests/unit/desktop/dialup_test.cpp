#include "monitor/desktop/dialup.h"

#include <gtest/gtest.h>

#include "tests/fakes/check_rig.h"
#include "tests/fakes/fake_dialup.h"

namespace tarvi {
namespace {

using fakes::FakeDialup;

struct DialRig {
  fakes::FakeStore store;
  fakes::FakePump pump;
  fakes::FakeDialogs dialogs;
  GeneralSettings opt;
  FakeDialup ras;
  Dialup dial{ras, pump, dialogs, store, opt};
};

TEST(Dialup, DialUpRules) {
  const struct {
    const char* name;
    std::vector<RasHandle> active;
    int polls;  // before connecting; -1 disconnected; -2 never
    std::uint32_t dialResult;
    int redials;
    int result;
    int dials, hangups, boxes;
  } cases[] = {
      {"one line up", {7}, 0, 0, 0, 0, 0, 0, 0},
      {"two lines up", {7, 8}, 0, 0, 0, 0, 1, 0, 0},
      {"connects after polls", {}, 3, 0, 0, 0, 1, 0, 0},
      {"disconnects, no redial", {}, -1, 0, 0, -1, 1, 1, 1},
      {"disconnects, two redials", {}, -1, 0, 2, -1, 3, 3, 1},
      {"dial refused, one redial", {}, 0, 633, 1, -1, 2, 2, 1},
  };
  for (auto& c : cases) {
    DialRig r;
    r.ras.active = c.active;
    r.ras.pollsToConnect = c.polls;
    r.ras.dialResult = c.dialResult;
    EXPECT_EQ(r.dial.dialUp(u"Office", c.redials), c.result) << c.name;
    EXPECT_EQ(r.ras.count("dial"), c.dials) << c.name;
    EXPECT_EQ(r.ras.count("hangup"), c.hangups) << c.name;
    EXPECT_EQ(static_cast<int>(r.dialogs.boxes.size()), c.boxes) << c.name;
    if (c.boxes) {
      EXPECT_EQ(r.dialogs.boxes[0].text, "接続できませんでした");
      EXPECT_EQ(r.dialogs.boxes[0].icon, MsgIcon::Critical);
      EXPECT_EQ(r.dialogs.boxes[0].title, "Tarviメールチェッカー");
    }
    for (RasHandle h : r.ras.dialHandlesIn) EXPECT_EQ(h, 0u) << c.name;
  }
}

TEST(Dialup, OneLineUpNeedsOnlyTheEnumeration) {
  DialRig r;
  r.ras.active = {7};
  r.dial.dialUp(u"x", 3);
  EXPECT_EQ(r.ras.calls, std::vector<std::string>{"enum"});
}

TEST(Dialup, PollingPumpsMessages) {
  DialRig r;
  r.ras.pollsToConnect = 5;
  r.dial.dialUp(u"x", 0);
  EXPECT_EQ(r.pump.pumps, 6);
}

TEST(Dialup, ChosenEntryCountsFromTheEndOfThePhoneBook) {
  const struct {
    const char* defdialno;  // nullptr: not stored
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
    if (c.defdialno) r.store.set("Defdialno", c.defdialno);
    r.ras.phoneBook = c.book;
    EXPECT_EQ(r.dial.chosenEntry(), c.entry) << (c.defdialno ? c.defdialno : "absent");
  }
}

TEST(Dialup, LogonGate) {
  const struct {
    const char* name;
    int timerFlg;
    int option10;
    std::vector<Text> book;
    std::vector<RasHandle> active;
    int polls;
    bool goesOn;
    int dials;
  } cases[] = {
      {"no entry chosen, nothing dialled", 0, 0, {}, {}, -1, true, 0},
      {"entry dialled and connected", 0, 0, {u"Home"}, {}, 1, true, 1},
      {"entry fails", 0, 0, {u"Home"}, {}, -1, false, 1},
      {"line already up", 0, 1, {u"Home"}, {5}, -1, true, 0},
      {"after the first timer check, no dialling", 1, 0, {u"Home"}, {}, -1, true, 0},
      {"offline rule, no line", 1, 1, {u"Home"}, {}, -1, false, 0},
      {"offline rule, line up", 1, 1, {u"Home"}, {5}, -1, true, 0},
  };
  for (auto& c : cases) {
    DialRig r;
    r.opt.Option10value = static_cast<std::int16_t>(c.option10);
    r.ras.phoneBook = c.book;
    r.ras.active = c.active;
    r.ras.pollsToConnect = c.polls;
    r.store.set("Defdialno", "0");
    EXPECT_EQ(r.dial.logonGate(c.timerFlg), c.goesOn) << c.name;
    EXPECT_EQ(r.ras.count("dial"), c.dials) << c.name;
    if (c.dials) {
      EXPECT_NE(std::find(r.ras.calls.begin(), r.ras.calls.end(), "dial Home"), r.ras.calls.end())
          << c.name;
    }
  }
}

TEST(Dialup, RedialCountFromSettings) {
  DialRig r;
  r.store.set("Defdialno", "0");
  r.store.set("Redialval", "2");
  r.ras.phoneBook = {u"Home"};
  r.ras.pollsToConnect = -1;
  EXPECT_FALSE(r.dial.logonGate(0));
  EXPECT_EQ(r.ras.count("dial"), 3);
  EXPECT_EQ(r.dialogs.boxes.size(), 1u);
}

TEST(Dialup, HangUpTakesTheFirstLineOnly) {
  DialRig r;
  r.ras.active = {11, 12};
  r.dial.Hangfun();
  EXPECT_EQ(r.ras.active, std::vector<RasHandle>{12});
  DialRig none;
  none.dial.hangUp();
  EXPECT_EQ(none.ras.count("hangup"), 0);
}

TEST(Dialup, AbandonedLogonStopsBothTimers) {
  fakes::CheckRig rig;
  rig.addAccount(1, "A");
  rig.start();
  FakeDialup ras;
  Dialup dial(ras, rig.pump, rig.dialogs, rig.store, rig.form.opt);
  rig.form.opt.Option10value = 1;
  rig.form.opt.Option3value = 1;
  rig.cycle.timerFlg = 1;
  rig.transport.gate = [&] { return dial.logonGate(rig.cycle.timerFlg); };
  rig.cycle.checkmail();
  rig.pump.runAll();
  EXPECT_EQ(rig.sock.opened, 0);
  EXPECT_FALSE(rig.form.timers.enabled(TimerId::timeuptimer));
  EXPECT_FALSE(rig.form.timers.enabled(TimerId::logontimer));
  EXPECT_TRUE(rig.dialogs.boxes.empty());
  rig.clock.advance(10 * 60000);
  EXPECT_EQ(rig.sock.opened, 0);  // stalled until the next checkmail
}

}  // namespace
}  // namespace tarvi
