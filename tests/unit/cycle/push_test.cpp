// Push: an IMAP account idling on its own connection beside the cycle's,
// checked the moment its server tells of a change, and reopened after
// pauses that grow with each failure.
#include <gtest/gtest.h>

#include "monitor/cycle/push.h"
#include "tests/fakes/monitor_rig.h"

namespace tarvi::fakes {
namespace {

using Lines = std::vector<std::string>;

TEST(Push, PausesGrowAndAreBounded) {
  const std::pair<int, int> cases[] = {{0, 5}, {1, 10}, {2, 20}, {6, 320}, {7, 600}, {40, 600}};
  for (auto [failures, seconds] : cases) EXPECT_EQ(reconnectPause(failures), seconds) << failures;
}

struct PushRig : MonitorRig {
  ImapServer& server = addImapAccount(1, "A");
  PushRig() { server.add(message("a@x", "s1")); }
  int idles() const {
    return static_cast<int>(std::count_if(pushSock.sent.begin(), pushSock.sent.end(),
                                          [](const std::string& l) { return l.find(" IDLE") != std::string::npos; }));
  }
};

TEST(Push, TheServersWordStartsACheckAndTheIdleIsRenewed) {
  PushRig rig;
  ASSERT_TRUE(rig.start());
  rig.pump.runAll();
  EXPECT_EQ(rig.idles(), 1);
  EXPECT_TRUE(rig.monitor.checker().push().idling(1));
  EXPECT_TRUE(rig.sock.sent.empty());  // no check until the server speaks

  rig.server.add(message("b@x", "s2"));
  const std::size_t before = rig.sock.sent.size();
  rig.pushSock.serverSends("* 2 EXISTS\r\n* 1 RECENT\r\n");
  rig.settle(3);
  // One check for the one message, however the server words its arrival.
  EXPECT_EQ(std::count(rig.sock.sent.begin() + static_cast<long>(before), rig.sock.sent.end(), "A1 CAPABILITY"), 1);
  EXPECT_TRUE(rig.state().accounts.find(1)->newMail);
  EXPECT_EQ(toUtf8(rig.window.caption()), "2通のメールが届いています!");

  rig.settle(PushKeeper::kRenewSeconds);
  EXPECT_NE(std::find(rig.pushSock.sent.begin(), rig.pushSock.sent.end(), "DONE"), rig.pushSock.sent.end());
  EXPECT_EQ(rig.idles(), 2);
  EXPECT_EQ(rig.pushSock.opened, 1);
  EXPECT_TRUE(rig.dialogs.texts().empty());
}

TEST(Push, AConnectionThatKeepsFailingIsTriedAgainAfterLongerPauses) {
  PushRig rig;
  rig.pushSock.connectError = 10061;  // refused, again and again
  ASSERT_TRUE(rig.start());
  rig.pump.runAll();
  std::vector<int> opened;
  for (int second = 1; second <= 40; ++second) {
    rig.timers.advance(1000);
    rig.pump.runAll();
    opened.push_back(rig.pushSock.opened);
  }
  // Tried at once, then after 5, 10 and 20 seconds: never an error box.
  EXPECT_EQ(opened[3], 1);  // after second 4
  EXPECT_EQ(opened[4], 2);
  EXPECT_EQ(opened[13], 2);
  EXPECT_EQ(opened[14], 3);
  EXPECT_EQ(opened[33], 3);
  EXPECT_EQ(opened[34], 4);
  EXPECT_TRUE(rig.dialogs.texts().empty());
  // Once an idle has held, the server hanging up is noticed at once and
  // followed by a quick try.
  rig.pushSock.connectError = 0;
  rig.settle(80 + PushKeeper::kAnswerSeconds);
  EXPECT_TRUE(rig.monitor.checker().push().idling(1));
  const int before = rig.pushSock.opened;
  rig.pushSock.serverCloses();
  rig.pump.runAll();
  EXPECT_FALSE(rig.monitor.checker().push().idling(1));
  rig.settle(5);
  EXPECT_EQ(rig.pushSock.opened, before + 1);
  EXPECT_TRUE(rig.monitor.checker().push().idling(1));
  EXPECT_TRUE(rig.dialogs.texts().empty());
}

TEST(Push, TheFirstNetworkAfterNoneReopensAtOnce) {
  PushRig rig;
  ASSERT_TRUE(rig.start());
  rig.pump.runAll();
  rig.network.up = false;
  rig.monitor.onNetworkChanged();
  rig.pushSock.connectError = 10065;  // no route while there is no network
  rig.pushSock.serverCloses();
  rig.settle(200);  // the pauses have grown to minutes
  const int before = rig.pushSock.opened;
  rig.settle(60);
  ASSERT_EQ(rig.pushSock.opened, before);
  rig.pushSock.connectError = 0;
  rig.network.up = true;
  rig.monitor.onNetworkChanged();
  rig.pump.runAll();
  EXPECT_EQ(rig.pushSock.opened, before + 1);
  EXPECT_TRUE(rig.monitor.checker().push().idling(1));
}

}  // namespace
}  // namespace tarvi::fakes
