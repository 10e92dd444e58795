// Sleep and networks: a run cut by the sleep deletes nothing, a wake-up
// checks once a network is up, and periodic checks without a network pass
// over the accounts that need one without a word.
#include <gtest/gtest.h>

#include "tests/unit/pop3/session_rig.h"

namespace tarvi::fakes {
namespace {

bool says(const FakeTrayIcon& tray, const char16_t* line) { return tray.tooltip.find(toUtf8(line)) != std::string::npos; }

TEST(Sleep, DeleteRunCutBySleepDeletesNothingAndTheWakeUpChecksAndTells) {
  ListedRig rig({2, 1});
  rig.boxes[1001].replies["DELE 2"] = "";  // the server is slow with the second
  rig.mark(1, 1);
  rig.mark(1, 2);
  rig.monitor.deleteMarked();
  rig.pump.runAll();
  ASSERT_EQ(rig.commands().back(), "DELE 2");
  rig.monitor.onSuspend();
  rig.settle(120);
  const auto afterSleep = rig.sock.sent.size();
  EXPECT_EQ(rig.sock.current(), kNoSocket);
  EXPECT_EQ(rig.commands(afterSleep - 2), (std::vector<std::string>{"DELE 1", "DELE 2"}));  // no QUIT
  EXPECT_EQ(rig.boxes[1001].messages.size(), 2u);
  EXPECT_TRUE(rig.dialogs.boxes.size() == 1);  // the question only

  rig.boxes[1001].replies.clear();
  rig.monitor.onResume();
  rig.monitor.onResume();  // told twice for one wake-up
  rig.settle();
  EXPECT_EQ(rig.dialogs.texts().back(), toUtf8(kDeleteCutBySleep));
  int checks = 0;
  for (const auto& c : rig.commands(afterSleep)) checks += c == "STAT";
  EXPECT_EQ(checks, 2);  // each account once
  EXPECT_EQ(rig.window.lastCaption(), "3" + toUtf8(kMailArrived));
}

TEST(Sleep, WakeUpWaitsForANetworkAtMostAMinute) {
  constexpr int kNever = 1000;
  const std::pair<int, int> cases[] = {{0, 0}, {5, 6}, {kNever, 59}};  // network up, check begun (s)
  for (auto [upAt, checkedAt] : cases) {
    ListedRig rig({1});
    rig.network.up = upAt == 0;
    const auto before = rig.sock.opened;
    rig.monitor.onResume();
    int began = rig.sock.opened > before ? 0 : -1;
    for (int s = 1; s <= 70 && began < 0; ++s) {
      rig.settle(1);
      if (rig.sock.opened > before) began = s;
      if (s == upAt) rig.network.up = true;
    }
    EXPECT_EQ(began, checkedAt) << "network up at " << upAt;
  }
}

TEST(Offline, PeriodicChecksPassOverAccountsThatNeedANetworkUntilOneIsUp) {
  MonitorRig rig;
  rig.addAccount(1, "remote").messages = {msg(1), msg(2)};
  rig.addAccount(2, "proxy").messages = {msg(1)};  // on this machine
  rig.store.set("Hname1", "pop.example.jp");
  rig.sock.hosts["pop.example.jp"] = 0x0100007f;
  rig.store.set("Checktimerval", "1");
  rig.store.set("Trayicon", "1");
  ASSERT_TRUE(rig.start());
  rig.checkAll();
  auto usersSince = [&](std::size_t from) {
    std::vector<std::string> users;
    for (const auto& c : rig.commands(from))
      if (c.rfind("USER ", 0) == 0) users.push_back(c);
    return users;
  };
  rig.network.up = false;
  const auto before = rig.sock.sent.size();
  rig.settle(61);
  EXPECT_EQ(usersSince(before), std::vector<std::string>{"USER user2"});
  EXPECT_TRUE(rig.dialogs.boxes.empty());
  EXPECT_TRUE(says(rig.tray, kOffline)) << rig.tray.tooltip;
  EXPECT_EQ(rig.window.lastCaption(), "3" + toUtf8(kMailArrived));  // the remote two still count

  rig.network.up = true;
  const auto offlineEnd = rig.sock.sent.size();
  rig.monitor.onNetworkChanged();
  rig.settle(5);
  EXPECT_EQ(usersSince(offlineEnd), (std::vector<std::string>{"USER user1", "USER user2"}));
  EXPECT_FALSE(says(rig.tray, kOffline));
}

}  // namespace
}  // namespace tarvi::fakes

namespace tarvi::fakes {
namespace {

// A name server that does not answer holds nothing but its own account,
// and only for the time limit.
TEST(SlowLookup, TheTimeLimitCoversTheLookupAndTheNextAccountGoesOn) {
  MonitorRig rig;
  rig.addAccount(1, "slow");
  rig.addAccount(2, "next").messages = {msg(1)};
  rig.store.set("Hname1", "slow.example.jp");
  rig.sock.hosts["slow.example.jp"] = 0x0100007f;
  rig.sock.holdLookups = true;
  ASSERT_TRUE(rig.start());
  rig.monitor.checkAll();
  rig.settle(30);
  EXPECT_TRUE(rig.sock.connectedTo.empty());
  EXPECT_TRUE(rig.dialogs.boxes.empty());
  rig.settle(100);
  EXPECT_EQ(rig.dialogs.texts(), std::vector<std::string>{"接続処理ﾀｲﾑｱｳﾄ"});
  EXPECT_EQ(rig.sock.connectedTo, std::vector<std::string>{"127.0.0.1"});  // account 2's literal
  EXPECT_EQ(rig.window.lastCaption(), "1" + toUtf8(kMailArrived));
  rig.sock.releaseLookups();  // the answer that came too late connects nothing
  rig.settle(5);
  EXPECT_EQ(rig.sock.connectedTo.size(), 1u);
}

}  // namespace
}  // namespace tarvi::fakes
