// A run that has been replaced (a new check started inside a command's
// message pumping, a session given up while its error box was open, a
// check started between two sessions of a run) must change nothing of the
// run that replaced it.
#include <gtest/gtest.h>

#include "tests/fakes/monitor_rig.h"

namespace tarvi::fakes {
namespace {

int count(const std::vector<std::string>& v, const std::string& s) {
  return static_cast<int>(std::count(v.begin(), v.end(), s));
}

struct Rig : MonitorRig {
  Rig() {
    addAccount(1, "one").messages = {message("a@x", "s1")};
    addAccount(2, "two").messages = {message("b@x", "s2"), message("c@x", "s3")};
    EXPECT_TRUE(start());
  }
};

TEST(RunIdentity, CheckStartedWhileACommandIsSentChecksEveryAccount) {
  Rig rig;
  bool restarted = false;
  auto serve = rig.sock.respond;
  rig.sock.respond = [&](const std::string& cmd) {
    // The check hotkey is handled inside the pumping that follows the send.
    if (cmd == "USER user1" && !restarted) {
      restarted = true;
      rig.pump.post([&] {
        // The new connection comes up only after the old handler returned.
        rig.sock.holdConnect = true;
        rig.monitor.checkAll();
        rig.sock.holdConnect = false;
      });
    }
    return serve(cmd);
  };
  rig.monitor.checkAll();
  rig.sock.releaseConnects();
  rig.settle(200);
  EXPECT_EQ(rig.window.lastCaption(), "3通のメールが届いています!");
  EXPECT_EQ(count(rig.sock.sent, "STAT"), 2);
  EXPECT_TRUE(rig.dialogs.boxes.empty());
}

TEST(RunIdentity, FailureEndingAfterTheTimeLimitLeavesTheNextAccountAlone) {
  Rig rig;
  rig.boxes[1001].pass = "other";  // account 1's password is refused
  rig.boxes[1001].replies["QUIT"] = "";  // and its QUIT never answered
  rig.dialogs.whileOpen = [&](const std::string& text) {
    // The user leaves the box open past the time limit; the cycle moves on.
    // The next account's server answers only after the box was closed.
    if (text.find("Authentication failed") == std::string::npos) return;
    rig.sock.holdConnect = true;
    rig.settle(70);
    rig.sock.holdConnect = false;
  };
  rig.monitor.checkAll();
  rig.sock.releaseConnects();
  rig.settle(200);
  const std::vector<std::string> account2 = {"USER user2", "PASS pw2", "STAT", "TOP 1 5", "TOP 2 5",
                                             "QUIT"};
  const auto sent = rig.sock.sent;
  ASSERT_GE(sent.size(), account2.size());
  auto at = std::find(sent.begin(), sent.end(), "USER user2");
  ASSERT_NE(at, sent.end());
  EXPECT_EQ(std::vector<std::string>(at, sent.end()), account2);
  EXPECT_EQ(rig.window.lastCaption(), "2通のメールが届いています!");
}

TEST(RunIdentity, CheckStartedBetweenTwoRetrieveSessionsIsNotTakenOver) {
  for (bool del : {false, true}) {
    Rig rig;
    rig.checkAll();
    rig.mark(1, 1);
    rig.mark(2, 1);
    rig.dialogs.answers = {MsgAnswer::Yes};
    if (del)
      rig.monitor.deleteMarked();
    else
      rig.monitor.retrieveMarked();
    rig.pump.runAll();  // account 1's session has ended; account 2 is due in a second
    const std::size_t before = rig.sock.sent.size();
    rig.monitor.checkAll();
    rig.settle(200);
    const auto after = rig.sentSince(before);
    EXPECT_EQ(count(after, "RETR 1") + count(after, "DELE 1"), 0) << del;
    EXPECT_EQ(count(after, "STAT"), 2) << del;
    EXPECT_EQ(rig.boxes[1002].messages.size(), 2u) << del;
  }
}

TEST(RunIdentity, MarkMadeWhileACheckRenumbersLandsOnTheMessageTheRowShows) {
  MonitorRig rig;
  rig.store.set("Fastcheck", "1");
  auto& box = rig.addAccount(1, "one");
  box.messages = {message("a@x", "s1"), message("b@x", "s2"), message("c@x", "s3")};
  ASSERT_TRUE(rig.start());
  rig.checkAll();
  ASSERT_EQ(toUtf8(rig.monitor.popup().grid.row(2).subject), "s2");
  // Another client removes s1; the next check has renumbered the list
  // (s2 is message 1 now) and waits for the server when the user clicks
  // the row that shows s2 and presses Delete.
  box.messages.erase(box.messages.begin());
  box.replies["TOP 2 0"] = "";
  rig.monitor.checkAll();
  rig.pump.runAll();
  ASSERT_EQ(toUtf8(rig.item(1, 1).subject), "s2");
  rig.monitor.clickRow(2);
  box.replies.clear();
  rig.dialogs.answers = {MsgAnswer::Yes};
  rig.monitor.deleteMarked();
  rig.settle(70);
  EXPECT_EQ(box.messages, (std::vector<std::string>{message("c@x", "s3")}));
}

}  // namespace
}  // namespace tarvi::fakes
