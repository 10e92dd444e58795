#include "monitor/pop3/retrieve_session.h"

#include <gtest/gtest.h>

#include "tests/unit/pop3/retrieve_rig.h"

namespace tarvi {
namespace {

using fakes::Mailbox;
using fakes::RunRig;
using Lines = std::vector<std::string>;
using Split = std::function<std::vector<std::string>(const std::string&)>;

std::string msg(int i) {
  const std::string n = std::to_string(i);
  return fakes::message("u" + n + "@x", "s" + n);
}

// Three accounts: 1 with five messages, 2 with two, 3 with one.
void threeAccounts(RunRig& rig) {
  auto& a = rig.addAccount(1, "A1");
  for (int i = 1; i <= 5; ++i) a.messages.push_back(msg(i));
  auto& b = rig.addAccount(2, "A2");
  b.messages = {msg(1), msg(2)};
  rig.addAccount(3, "A3").messages = {msg(1)};
  rig.start();
  rig.checkAll();
}

struct RetrieveCase {
  const char* name;
  std::vector<std::pair<int, int>> marks;
  std::map<std::string, std::string> replies;  // overrides on account 1
  Lines commands;                              // sent during the run
  std::vector<std::pair<int, int>> retrieved;  // records with a body after the run
  Lines boxes;                                 // with error boxes enabled
};

const RetrieveCase kCases[] = {
    {"marks on two accounts", {{1, 2}, {1, 5}, {3, 1}}, {},
     {"USER user1", "PASS pw1", "RETR 2", "RETR 5", "QUIT", "USER user3", "PASS pw3", "RETR 1", "QUIT"},
     {{1, 2}, {1, 5}, {3, 1}}, {}},
    {"single mark", {{2, 2}}, {}, {"USER user2", "PASS pw2", "RETR 2", "QUIT"}, {{2, 2}}, {}},
    {"refused retr ends the account", {{1, 2}, {1, 5}, {3, 1}},
     {{"RETR 2", "-ERR no such message\r\n"}},
     {"USER user1", "PASS pw1", "RETR 2", "QUIT", "USER user3", "PASS pw3", "RETR 1", "QUIT"},
     {{3, 1}}, {" no such message\r\n"}},
    {"second retr refused keeps the first", {{1, 2}, {1, 5}},
     {{"RETR 5", "-ERR gone\r\n"}},
     {"USER user1", "PASS pw1", "RETR 2", "RETR 5", "QUIT"}, {{1, 2}}, {" gone\r\n"}},
    {"wrong password", {{1, 1}, {3, 1}}, {{"PASS", "-ERR [AUTH] failed\r\n"}},
     {"USER user1", "PASS pw1", "QUIT", "USER user3", "PASS pw3", "RETR 1", "QUIT"},
     {{3, 1}}, {" [AUTH] failed\r\n"}},
    {"data lines that look like replies", {{1, 3}},
     {{"RETR 3", "+OK 50 octets\r\nFrom: u3@x\r\nSubject: s3\r\n\r\n+OK not a status\r\n"
                 "-ERR not a refusal either\r\n.\r\n"}},
     {"USER user1", "PASS pw1", "RETR 3", "QUIT"}, {{1, 3}}, {}},
    {"empty message", {{1, 4}}, {{"RETR 4", "+OK\r\nFrom: u4@x\r\nSubject: s4\r\n\r\n.\r\n"}},
     {"USER user1", "PASS pw1", "RETR 4", "QUIT"}, {{1, 4}}, {}},
};

void runCase(const RetrieveCase& c, Split split, const std::string& how) {
  RunRig rig;
  threeAccounts(rig);
  for (auto& [k, v] : c.replies) rig.boxes[1001].replies[k] = v;
  rig.store.set("Option3value", "0");
  rig.form.loadoption();
  for (auto [a, m] : c.marks) rig.mark(a, m);
  rig.sock.split = split;
  rig.view.setCaption(u"8通のメールが届いています!");
  const auto before = rig.sock.sent.size();
  rig.retrieve.RetrBt_Click();
  rig.settle();
  const std::string what = std::string(c.name) + " / " + how;
  EXPECT_EQ(rig.sentSince(before), c.commands) << what;
  EXPECT_EQ(rig.errorBoxes(), c.boxes) << what;
  for (int a = 1; a <= 3; ++a)
    for (int m = 1; m <= rig.mailList.messages(); ++m) {
      const bool want = std::count(c.retrieved.begin(), c.retrieved.end(), std::make_pair(a, m)) > 0;
      EXPECT_EQ(!rig.mailList.at(a, m).Body.empty(), want) << what << " record " << a << "," << m;
      EXPECT_EQ(rig.mailList.at(a, m).Marked, 0) << what;
    }
  EXPECT_EQ(rig.view.caption(), "8通のメールが届いています!") << what;
  EXPECT_FALSE(rig.retrieve.running()) << what;
  EXPECT_TRUE(rig.gridEnabled) << what;
  EXPECT_FALSE(rig.actionsEnabled) << what;
  EXPECT_FALSE(rig.busy) << what;
  EXPECT_EQ(rig.sock.current(), kNoSocket) << what;
  EXPECT_EQ(rig.sock.startups, rig.sock.cleanups) << what;
}

TEST(RetrieveSession, Runs) {
  for (auto& c : kCases) runCase(c, nullptr, "whole");
}

TEST(RetrieveSession, RunsByteByByte) {
  for (auto& c : kCases) runCase(c, fakes::bytewise, "bytes");
}

TEST(RetrieveSession, RunsSplitAtEveryOffset) {
  for (std::size_t at = 1; at < 60; ++at)
    for (auto& c : kCases)
      runCase(c, [at](const std::string& s) { return fakes::cutAt(s, at); },
              "cut at " + std::to_string(at));
}

TEST(RetrieveSession, CaptionsAndPacingOfTheRun) {
  RunRig rig;
  threeAccounts(rig);
  rig.mark(1, 2);
  rig.mark(3, 1);
  rig.view.setCaption(u"before");
  const auto captions = rig.view.captions.size();
  const auto ticks = rig.clock.ticks.size();
  rig.retrieve.RetrBt_Click();
  EXPECT_TRUE(rig.busy);
  rig.settle();
  const Lines seen(rig.view.captions.begin() + static_cast<long>(captions), rig.view.captions.end());
  EXPECT_EQ(seen, (Lines{"Tarviメールチェッカー -メール取得中:A1-",
                         "Tarviメールチェッカー -メール取得中:A3-", "before"}));
  // One retrtimer tick after each session; the next account follows it.
  int retr = 0;
  for (auto i = ticks; i < rig.clock.ticks.size(); ++i)
    if (rig.clock.ticks[i].id == TimerId::retrtimer) ++retr;
  EXPECT_EQ(retr, 2);
  EXPECT_FALSE(rig.clock.running(TimerId::retrtimer));
  EXPECT_FALSE(rig.clock.running(TimerId::timeuptimer));
}

TEST(RetrieveSession, RetrievedMessagesAreNotFetchedAgain) {
  RunRig rig;
  threeAccounts(rig);
  rig.mailList.at(1, 1).Body = u"already here";
  rig.mark(1, 1);
  rig.mark(1, 3);
  auto before = rig.sock.sent.size();
  rig.retrieve.RetrBt_Click();
  rig.settle();
  EXPECT_EQ(rig.sentSince(before), (Lines{"USER user1", "PASS pw1", "RETR 3", "QUIT"}));
  EXPECT_EQ(toUtf8(rig.mailList.at(1, 1).Body), "already here");

  // Everything marked is retrieved already: no server is touched, the
  // marks go all the same.
  rig.mark(1, 1);
  rig.mark(1, 3);
  const int opened = rig.sock.opened;
  rig.retrieve.RetrBt_Click();
  rig.settle();
  EXPECT_EQ(rig.sock.opened, opened);
  EXPECT_EQ(rig.mailList.at(1, 1).Marked, 0);
  EXPECT_EQ(rig.mailList.at(1, 3).Marked, 0);
}

TEST(RetrieveSession, LogHoldsTheShortenedReply) {
  RunRig rig;
  threeAccounts(rig);
  rig.store.set("Option8value", "1");
  rig.form.loadoption();
  rig.mark(1, 2);
  rig.retrieve.RetrBt_Click();
  rig.settle();
  const std::string log = toUtf8(rig.transport.logText);
  const auto retr = log.find("RETR 2");
  const auto reply = log.find("+OK 38 octets\r\nFrom: u2@x\r\nSubject: s2\r\n");
  ASSERT_NE(reply, std::string::npos) << log;
  EXPECT_LT(retr, reply);
  EXPECT_LT(reply, log.find("QUIT"));
  EXPECT_NE(log.find("PASS ******************************"), std::string::npos);
  EXPECT_EQ(log.find("pw1"), std::string::npos);
}

TEST(RetrieveSession, TimeLimitMovesOnToTheNextAccount) {
  RunRig rig;
  threeAccounts(rig);
  rig.store.set("Timeupval", "1");
  rig.form.loadoption();
  rig.boxes[1001].replies["RETR 2"] = "";  // the server never answers
  rig.mark(1, 2);
  rig.mark(3, 1);
  const auto before = rig.sock.sent.size();
  rig.retrieve.RetrBt_Click();
  rig.settle(200);
  EXPECT_EQ(rig.sentSince(before), (Lines{"USER user1", "PASS pw1", "RETR 2", "QUIT", "USER user3",
                                          "PASS pw3", "RETR 1", "QUIT"}));
  EXPECT_TRUE(rig.mailList.at(1, 2).Body.empty());
  EXPECT_FALSE(rig.mailList.at(3, 1).Body.empty());
}

// Another client took message 1 after the list was made: number 2 now
// denotes the listed message 3. Its body must not be stored as message 2's.
TEST(RetrieveSession, RenumberedMailboxStoresNoWrongBody) {
  for (Split split : {Split(), Split(fakes::bytewise)}) {
    RunRig rig;
    threeAccounts(rig);
    rig.sock.split = split;
    auto& box = rig.boxes[1001];
    box.messages.erase(box.messages.begin());
    rig.mark(1, 2);
    rig.mark(1, 4);
    rig.mark(3, 1);
    const auto before = rig.sock.sent.size();
    rig.retrieve.RetrBt_Click();
    rig.settle();
    EXPECT_EQ(rig.sentSince(before),
              (Lines{"USER user1", "PASS pw1", "RETR 2", "QUIT", "USER user3", "PASS pw3", "RETR 1", "QUIT"}));
    EXPECT_TRUE(rig.mailList.at(1, 2).Body.empty());
    EXPECT_TRUE(rig.mailList.at(1, 4).Body.empty());
    EXPECT_FALSE(rig.mailList.at(3, 1).Body.empty());
    ASSERT_EQ(rig.errorBoxes().size(), 1u);
    EXPECT_EQ(rig.errorBoxes()[0], toUtf8(kRetrieveChanged) + "\r\n  A1");
    EXPECT_EQ(rig.dialogs.boxes.back().icon, MsgIcon::Exclamation);
  }
}

TEST(SameListing, ComparesWhatTopWouldHaveShown) {
  MailItem item;
  item.From = u"u1@x";
  item.Subject = u"s1";
  const struct {
    const char* message;
    bool same;
  } cases[] = {
      {"+OK\r\nFrom: u1@x\r\nSubject: s1\r\n\r\nbody\r\n.\r\n", true},
      {"+OK\r\nFrom: u2@x\r\nSubject: s1\r\n\r\nbody\r\n.\r\n", false},
      {"+OK\r\nFrom: u1@x\r\nSubject: s2\r\n\r\nbody\r\n.\r\n", false},
      // A sender only in the sixth body line was not seen by TOP n 5.
      {"+OK\r\nSubject: s1\r\n\r\n1\r\n2\r\n3\r\n4\r\n5\r\nFrom: u1@x\r\n.\r\n", false},
      {"+OK\r\nFrom: u1@x\r\nSubject: s1\r\n\r\n1\r\n2\r\n3\r\n4\r\n5\r\nSubject: late\r\n.\r\n", true},
  };
  for (auto& c : cases) EXPECT_EQ(sameListing(item, fromUtf8(c.message)), c.same) << c.message;
  EXPECT_EQ(toUtf8(topPart(u"+OK\r\nA: b\r\n\r\n1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n.\r\n")),
            "+OK\r\nA: b\r\n\r\n1\r\n2\r\n3\r\n4\r\n5\r\n.\r\n");
}

}  // namespace
}  // namespace tarvi
