#include "monitor/pop3/delete_session.h"

#include <gtest/gtest.h>

#include "tests/unit/pop3/retrieve_rig.h"

namespace tarvi {
namespace {

using fakes::Mailbox;
using fakes::RunRig;
using fakes::subjects;
using Lines = std::vector<std::string>;
using Split = std::function<std::vector<std::string>(const std::string&)>;

std::string msg(int i) {
  const std::string n = std::to_string(i);
  return fakes::message("u" + n + "@x", "s" + n);
}

// Account 1 with eight messages, account 2 with three.
void twoAccounts(RunRig& rig) {
  auto& a = rig.addAccount(1, "A1");
  for (int i = 1; i <= 8; ++i) a.messages.push_back(msg(i));
  auto& b = rig.addAccount(2, "A2");
  for (int i = 1; i <= 3; ++i) b.messages.push_back(msg(i));
  rig.start();
  rig.checkAll();
}

struct DeleteCase {
  const char* name;
  std::vector<std::pair<int, int>> marks;
  std::map<std::string, std::string> replies;  // overrides on account 1
  Lines commands;                              // the run's sessions, before the fresh check
  Lines left1, left2;                          // subjects left on the servers
  Lines boxes;                                 // with error boxes enabled
};

const DeleteCase kCases[] = {
    {"three marks in order", {{1, 7}, {1, 2}, {1, 5}}, {},
     {"USER user1", "PASS pw1", "STAT", "TOP 2 5", "TOP 5 5", "TOP 7 5", "DELE 2", "DELE 5",
      "DELE 7", "QUIT"},
     {"s1", "s3", "s4", "s6", "s8"}, {"s1", "s2", "s3"}, {}},
    {"single mark", {{2, 3}}, {}, {"USER user2", "PASS pw2", "STAT", "TOP 3 5", "DELE 3", "QUIT"},
     {"s1", "s2", "s3", "s4", "s5", "s6", "s7", "s8"}, {"s1", "s2"}, {}},
    {"wrong password, next account served", {{1, 1}, {2, 1}}, {{"PASS", "-ERR [AUTH] failed\r\n"}},
     // The acceptance of the QUIT comes in state 6 and gets one more.
     {"USER user1", "PASS pw1", "QUIT", "QUIT", "USER user2", "PASS pw2", "STAT", "TOP 1 5", "DELE 1", "QUIT"},
     // The fresh check meets the same refusal.
     {"s1", "s2", "s3", "s4", "s5", "s6", "s7", "s8"}, {"s2", "s3"}, {" [AUTH] failed\r\n", " [AUTH] failed\r\n"}},
    {"refused dele keeps what was accepted", {{1, 2}, {1, 5}, {1, 7}},
     {{"DELE 5", "-ERR locked\r\n"}},
     {"USER user1", "PASS pw1", "STAT", "TOP 2 5", "TOP 5 5", "TOP 7 5", "DELE 2", "DELE 5", "QUIT", "QUIT"},
     {"s1", "s3", "s4", "s5", "s6", "s7", "s8"}, {"s1", "s2", "s3"}, {" locked\r\n"}},
    {"last dele refused still quits", {{1, 2}, {1, 5}}, {{"DELE 5", "-ERR locked\r\n"}},
     {"USER user1", "PASS pw1", "STAT", "TOP 2 5", "TOP 5 5", "DELE 2", "DELE 5", "QUIT", "QUIT"},
     {"s1", "s3", "s4", "s5", "s6", "s7", "s8"}, {"s1", "s2", "s3"}, {" locked\r\n"}},
    {"top refused deletes nothing", {{1, 2}, {1, 5}}, {{"TOP 5", "-ERR no\r\n"}},
     {"USER user1", "PASS pw1", "STAT", "TOP 2 5", "TOP 5 5", "QUIT", "QUIT"},
     {"s1", "s2", "s3", "s4", "s5", "s6", "s7", "s8"}, {"s1", "s2", "s3"}, {" no\r\n"}},
    {"stat of another form deletes nothing", {{1, 2}}, {{"STAT", "+OK lots\r\n"}},
     {"USER user1", "PASS pw1", "STAT", "QUIT"},
     {"s1", "s2", "s3", "s4", "s5", "s6", "s7", "s8"}, {"s1", "s2", "s3"},
     // The fresh check meets the same reply before the user is told.
     {"STATの応答に誤りがあります",
      "前回のﾁｪｯｸ後にｻｰﾊﾞのﾒｰﾙが変わったため、次のｱｶｳﾝﾄのﾒｰﾙは削除しませんでした\r\n"
      "一覧を更新しますので、もう一度選択してください\r\n  A1"}},
};

void runCase(const DeleteCase& c, Split split, const std::string& how) {
  RunRig rig;
  twoAccounts(rig);
  for (auto& [k, v] : c.replies) rig.boxes[1001].replies[k] = v;
  rig.store.set("Option3value", "0");
  rig.store.set("Option6value", "1");
  rig.form.loadoption();
  for (auto [a, m] : c.marks) rig.mark(a, m);
  rig.sock.split = split;
  const auto before = rig.sock.sent.size();
  rig.del.DelBt_Click();
  rig.settle();
  const std::string what = std::string(c.name) + " / " + how;
  // The run's sessions, then a fresh check of both accounts.
  Lines sent = rig.sentSince(before);
  ASSERT_GE(sent.size(), c.commands.size()) << what;
  EXPECT_EQ(Lines(sent.begin(), sent.begin() + static_cast<long>(c.commands.size())), c.commands) << what;
  const Lines check(sent.begin() + static_cast<long>(c.commands.size()), sent.end());
  EXPECT_GE(std::count(check.begin(), check.end(), "USER user1"), 1) << what;
  EXPECT_EQ(std::count_if(check.begin(), check.end(), [](auto& s) { return s.rfind("DELE", 0) == 0; }), 0);
  EXPECT_EQ(subjects(rig.boxes[1001]), c.left1) << what;
  EXPECT_EQ(subjects(rig.boxes[1002]), c.left2) << what;
  EXPECT_EQ(rig.errorBoxes(), c.boxes) << what;
  // The fresh check lists the mailboxes as they are now, quietly.
  EXPECT_EQ(rig.tally.lastCount[1], static_cast<std::int64_t>(c.left1.size())) << what;
  EXPECT_EQ(rig.tally.lastCount[2], static_cast<std::int64_t>(c.left2.size())) << what;
  EXPECT_EQ(toUtf8(rig.mailList.at(1, 1).Subject), c.left1[0]) << what;
  EXPECT_EQ(toUtf8(rig.mailList.at(2, 1).Subject), c.left2[0]) << what;
  EXPECT_EQ(rig.tally.noNotify, 1) << what;
  EXPECT_FALSE(rig.cycle.newMailFlg_Check()) << what;
  EXPECT_FALSE(rig.busy) << what;
  EXPECT_EQ(rig.sock.current(), kNoSocket) << what;
  EXPECT_EQ(rig.sock.startups, rig.sock.cleanups) << what;
}

TEST(DeleteSession, Runs) {
  for (auto& c : kCases) runCase(c, nullptr, "whole");
}

TEST(DeleteSession, RunsByteByByte) {
  for (auto& c : kCases) runCase(c, fakes::bytewise, "bytes");
}

TEST(DeleteSession, RunsSplitAtEveryOffset) {
  for (std::size_t at = 1; at < 40; ++at)
    for (auto& c : kCases)
      runCase(c, [at](const std::string& s) { return fakes::cutAt(s, at); },
              "cut at " + std::to_string(at));
}

TEST(DeleteSession, QuestionAndAnswers) {
  for (MsgAnswer answer : {MsgAnswer::No, MsgAnswer::Cancel, MsgAnswer::Yes}) {
    RunRig rig;
    twoAccounts(rig);
    rig.mark(1, 1);
    rig.dialogs.answers = {answer};
    const auto boxes = rig.dialogs.boxes.size();
    const auto before = rig.sock.sent.size();
    rig.del.DelBt_Click();
    rig.settle();
    ASSERT_GT(rig.dialogs.boxes.size(), boxes);
    const auto& q = rig.dialogs.boxes[boxes];
    EXPECT_EQ(q.text, "○の付いたメールを削除します\r\nよろしいですか？");
    EXPECT_EQ(q.title, "Tarviメールチェッカー");
    EXPECT_EQ(q.buttons, MsgButtons::YesNo);
    EXPECT_EQ(q.icon, MsgIcon::None);
    if (answer == MsgAnswer::Yes) {
      EXPECT_EQ(subjects(rig.boxes[1001]).size(), 7u);
    } else {
      EXPECT_TRUE(rig.sentSince(before).empty());
      EXPECT_EQ(subjects(rig.boxes[1001]).size(), 8u);
    }
  }
}

TEST(DeleteSession, NoIsTheDefaultButton) {
  fakes::FakeStore store;
  fakes::FakeTimerDriver clock;
  fakes::FakePump pump;
  fakes::AskingDialogs dialogs;
  fakes::FakeProcesses processes;
  fakes::FakeMainView view;
  fakes::FakeLamp lamp;
  MailForm form{{store, clock, pump, dialogs, processes, view, lamp}};
  fakes::FakeSocket sock{pump};
  Transport transport{sock, form};
  MailList mailList;
  CheckTally tally;
  CheckCycle cycle{form, transport, tally};
  DeleteSession del{form, transport, cycle, tally, mailList};
  dialogs.answers = {MsgAnswer::No};
  del.DelBt_Click();
  ASSERT_EQ(dialogs.defaults.size(), 1u);
  EXPECT_TRUE(dialogs.defaults[0]);
  EXPECT_EQ(sock.opened, 0);
}

TEST(DeleteSession, AccountsWithoutMarksGetNoConnection) {
  RunRig rig;
  auto& a = rig.addAccount(1, "A1");
  a.messages = {msg(1)};
  rig.addAccount(2, "A2").messages = {msg(1)};
  auto& c = rig.addAccount(3, "A3");
  c.messages = {msg(1), msg(2)};
  rig.start();
  rig.checkAll();
  rig.mark(3, 2);
  const auto ticks = rig.clock.ticks.size();
  rig.del.DelBt_Click();
  const int opened = rig.sock.opened;
  EXPECT_EQ(rig.view.caption(), "Tarviメールチェッカー -メール削除中:A3-");
  EXPECT_FALSE(rig.gridEnabled);
  EXPECT_FALSE(rig.actionsEnabled);
  EXPECT_TRUE(rig.busy);
  rig.settle();
  EXPECT_EQ(opened, rig.sock.opened - 3);  // then only the three of the check
  EXPECT_EQ(subjects(rig.boxes[1003]), Lines{"s1"});
  int del = 0;
  for (auto i = ticks; i < rig.clock.ticks.size(); ++i)
    if (rig.clock.ticks[i].id == TimerId::deltimer) ++del;
  EXPECT_EQ(del, 1);
  EXPECT_TRUE(rig.gridEnabled);  // the check's end gives the grid back
}

// The time limit sent QUIT in state 6; the late acceptance gets one more
// QUIT, after which the connection closes in the orderly way.
TEST(DeleteSession, LateQuitAcceptanceInStateSix) {
  RunRig rig;
  twoAccounts(rig);
  rig.store.set("Timeupval", "1");
  rig.form.loadoption();
  rig.mark(1, 2);
  rig.mark(1, 5);
  rig.mark(2, 1);
  auto& box = rig.boxes[1001];
  box.replies["DELE 2"] = "";  // no answer in time
  box.replies["QUIT"] = "+OK late\r\n";
  const auto before = rig.sock.sent.size();
  rig.del.DelBt_Click();
  rig.settle(59);
  ASSERT_EQ(rig.sentSince(before).back(), "DELE 2");
  EXPECT_EQ(rig.transport.sockState, DeleteSession::kDeleMore);
  const int closed = rig.sock.closed;
  rig.settle(1);  // the time limit: QUIT, accepted in state 6, QUIT again
  EXPECT_EQ(rig.sentSince(before).size(), 8u);
  EXPECT_EQ(rig.transport.sockState, DeleteSession::kQuitSent);
  EXPECT_EQ(rig.sock.closed, closed + 1);  // the orderly close
  EXPECT_EQ(rig.sock.current(), kNoSocket);
  box.replies.erase("QUIT");
  rig.settle();
  const Lines sent = rig.sentSince(before);
  ASSERT_GE(sent.size(), 9u);
  EXPECT_EQ(Lines(sent.begin(), sent.begin() + 9),
            (Lines{"USER user1", "PASS pw1", "STAT", "TOP 2 5", "TOP 5 5", "DELE 2", "QUIT", "QUIT",
                   "USER user2"}));
  EXPECT_EQ(subjects(rig.boxes[1002]), (Lines{"s2", "s3"}));
  EXPECT_EQ(subjects(rig.boxes[1001]).size(), 8u);
  EXPECT_EQ(rig.sock.startups, rig.sock.cleanups);
}

// Another client changed the mailbox between the check and the delete.
struct Change {
  const char* name;
  std::function<void(Mailbox&)> change;
  Lines commands;
  Lines left;
};

TEST(DeleteSession, RenumberedMailboxDeletesNothingWrong) {
  const Change changes[] = {
      {"one message taken", [](Mailbox& b) { b.messages.erase(b.messages.begin()); },
       {"USER user1", "PASS pw1", "STAT", "QUIT"}, {"s2", "s3", "s4", "s5", "s6", "s7", "s8"}},
      {"one taken, one of the same size came",
       [](Mailbox& b) {
         b.messages.erase(b.messages.begin());
         b.messages.push_back(msg(9));
       },
       {"USER user1", "PASS pw1", "STAT", "TOP 2 5", "QUIT"},
       {"s2", "s3", "s4", "s5", "s6", "s7", "s8", "s9"}},
      {"a later message replaced",
       [](Mailbox& b) {
         b.messages.erase(b.messages.begin() + 4);
         b.messages.push_back(msg(9));
       },
       {"USER user1", "PASS pw1", "STAT", "TOP 2 5", "TOP 5 5", "QUIT"},
       {"s1", "s2", "s3", "s4", "s6", "s7", "s8", "s9"}},
      {"new mail only", [](Mailbox& b) { b.messages.push_back(msg(9)); },
       {"USER user1", "PASS pw1", "STAT", "QUIT"},
       {"s1", "s2", "s3", "s4", "s5", "s6", "s7", "s8", "s9"}},
  };
  for (auto& c : changes)
    for (Split split : {Split(), Split(fakes::bytewise)}) {
      RunRig rig;
      twoAccounts(rig);
      rig.sock.split = split;
      c.change(rig.boxes[1001]);
      rig.mark(1, 2);
      rig.mark(1, 5);
      rig.mark(2, 3);
      const auto before = rig.sock.sent.size();
      rig.del.DelBt_Click();
      rig.settle();
      const Lines sent = rig.sentSince(before);
      Lines want = c.commands;
      for (auto s : {"USER user2", "PASS pw2", "STAT", "TOP 3 5", "DELE 3", "QUIT"}) want.push_back(s);
      EXPECT_EQ(Lines(sent.begin(), sent.begin() + static_cast<long>(std::min(want.size(), sent.size()))), want)
          << c.name;
      EXPECT_EQ(subjects(rig.boxes[1001]), c.left) << c.name;
      EXPECT_EQ(subjects(rig.boxes[1002]), (Lines{"s1", "s2"})) << c.name;
      ASSERT_EQ(rig.errorBoxes().size(), 1u) << c.name;
      EXPECT_EQ(rig.errorBoxes()[0], toUtf8(kDeleteChanged) + "\r\n  A1") << c.name;
      // The fresh check has listed the changed mailbox.
      EXPECT_EQ(rig.tally.lastCount[1], static_cast<std::int64_t>(c.left.size())) << c.name;
      EXPECT_EQ(toUtf8(rig.mailList.at(1, 2).Subject), c.left[1]) << c.name;
    }
}

}  // namespace
}  // namespace tarvi
