#include "monitor/pop3/delete_session.h"

#include <gtest/gtest.h>

#include "tests/unit/pop3/session_rig.h"

namespace tarvi::fakes {
namespace {

using Change = void (*)(Mailbox&);


Lines subjects(const Mailbox& b) {
  Lines out;
  for (auto& m : b.messages) {
    const auto p = m.find("Subject: ") + 9;
    out.push_back(m.substr(p, m.find("\r\n", p) - p));
  }
  return out;
}

Lines numbered(int n, int skip = 0) {
  Lines out;
  for (int i = 1; i <= n; ++i)
    if (i != skip) out.push_back("s" + std::to_string(i));
  return out;
}

// Accounts listed by a first check, A1 with eight messages and A2 with
// three, or as many as asked; the checks report only changed mailboxes.
struct Rig : ListedRig {
  explicit Rig(std::vector<int> counts = {8, 3}) : ListedRig(counts, true) {}
  void del(const Marks& marks) { run(marks, &Monitor::deleteMarked); }
  Lines listed(int a, std::size_t n) {  // the subjects of the first n records
    Lines out;
    for (int m = 1; m <= static_cast<int>(n); ++m) out.push_back(toUtf8(item(a, m).subject));
    return out;
  }
  Lines errors() const {  // the boxes but the question
    Lines out;
    for (auto& t : dialogs.texts())
      if (t != toUtf8(kDeleteQuestion)) out.push_back(t);
    return out;
  }
};

const Lines kA2 = {"USER user2", "PASS pw2", "TOP 3 0", "DELE 3", "QUIT"};
const std::string kChanged = toUtf8(kDeleteChanged) + "\r\n  A1";

const struct DeleteCase {
  const char* name;
  Marks marks;
  std::map<std::string, std::string> replies;  // overrides on A1
  Change change;                               // what another client did to A1 since the check
  Lines commands;                              // the run's sessions, before the fresh check
  Lines left1, left2;                          // subjects left on the servers
  Lines errors;
} kCases[] = {
    {"three marks in order", {{1, 7}, {1, 2}, {1, 5}}, {}, nullptr,
     {"USER user1", "PASS pw1", "TOP 2 0", "TOP 5 0", "TOP 7 0", "DELE 2", "DELE 5", "DELE 7", "QUIT"},
     {"s1", "s3", "s4", "s6", "s8"}, numbered(3), {}},
    {"single mark", {{2, 3}}, {}, nullptr, kA2, numbered(8), numbered(2), {}},
    // The fresh check meets the same refusal.
    {"wrong password, next account served", {{1, 1}, {2, 1}}, {{"PASS", "-ERR [AUTH] failed\r\n"}}, nullptr,
     {"USER user1", "PASS pw1", "QUIT", "USER user2", "PASS pw2", "TOP 1 0", "DELE 1", "QUIT"},
     numbered(8), {"s2", "s3"}, {" [AUTH] failed\r\n", " [AUTH] failed\r\n"}},
    {"refused dele keeps what was accepted", {{1, 2}, {1, 5}, {1, 7}}, {{"DELE 5", "-ERR locked\r\n"}}, nullptr,
     {"USER user1", "PASS pw1", "TOP 2 0", "TOP 5 0", "TOP 7 0", "DELE 2", "DELE 5", "QUIT"},
     numbered(8, 2), numbered(3), {" locked\r\n"}},
    {"last dele refused still quits", {{1, 2}, {1, 5}}, {{"DELE 5", "-ERR locked\r\n"}}, nullptr,
     {"USER user1", "PASS pw1", "TOP 2 0", "TOP 5 0", "DELE 2", "DELE 5", "QUIT"}, numbered(8, 2),
     numbered(3), {" locked\r\n"}},
    // A marked number the server refuses is no longer the message listed.
    {"top refused deletes nothing", {{1, 2}, {1, 5}}, {{"TOP 5 0", "-ERR no\r\n"}}, nullptr,
     {"USER user1", "PASS pw1", "TOP 2 0", "TOP 5 0", "QUIT"}, numbered(8), numbered(3), {kChanged}},
    // The time limit sends one QUIT, and the server forgets the session's
    // deletions; the run goes on with the next account.
    {"no answer in time", {{1, 2}, {1, 5}, {2, 1}}, {{"DELE 2", ""}}, nullptr,
     Lines{"USER user1", "PASS pw1", "TOP 2 0", "TOP 5 0", "DELE 2", "QUIT"} +
         Lines{"USER user2", "PASS pw2", "TOP 1 0", "DELE 1", "QUIT"},
     numbered(8), {"s2", "s3"}, {}},
    // Another client took message 1: number 2 now holds another message.
    {"one message taken", {{1, 2}, {1, 5}, {2, 3}}, {}, [](Mailbox& b) { b.messages.erase(b.messages.begin()); },
     Lines{"USER user1", "PASS pw1", "TOP 2 0", "QUIT"} + kA2, numbered(8, 1), numbered(2), {kChanged}},
    // Mail that arrived since the check renumbers nothing.
    {"new mail only", {{1, 2}, {1, 5}, {2, 3}}, {}, [](Mailbox& b) { b.messages.push_back(msg(9)); },
     Lines{"USER user1", "PASS pw1", "TOP 2 0", "TOP 5 0", "DELE 2", "DELE 5", "QUIT"} + kA2,
     {"s1", "s3", "s4", "s6", "s7", "s8", "s9"}, numbered(2), {}},
};

TEST(DeleteSession, RunsHoweverTheRepliesAreCut) {
  for (auto& [how, split] : splits(40))
    for (auto& c : kCases) {
      Rig rig;
      rig.boxes[1001].replies = c.replies;
      if (c.change) c.change(rig.boxes[1001]);
      rig.sock.split = split;
      const auto before = rig.sock.sent.size();
      rig.del(c.marks);
      const std::string what = std::string(c.name) + " / " + how;
      const Lines sent = rig.sentSince(before);
      ASSERT_GE(sent.size(), c.commands.size()) << what;
      EXPECT_EQ(Lines(sent.begin(), sent.begin() + static_cast<long>(c.commands.size())), c.commands) << what;
      // Then a fresh check of both accounts, which deletes nothing.
      const Lines check(sent.begin() + static_cast<long>(c.commands.size()), sent.end());
      EXPECT_EQ(std::count(check.begin(), check.end(), "USER user1"), 1) << what;
      EXPECT_EQ(std::count(check.begin(), check.end(), "USER user2"), 1) << what;
      EXPECT_EQ(std::count_if(check.begin(), check.end(), [](auto& s) { return s.rfind("DELE", 0) == 0; }), 0)
          << what;
      EXPECT_EQ(subjects(rig.boxes[1001]), c.left1) << what;
      EXPECT_EQ(subjects(rig.boxes[1002]), c.left2) << what;
      EXPECT_EQ(rig.errors(), c.errors) << what;
      // The fresh check lists the mailboxes as they are now, and quietly.
      for (int a : {1, 2}) {
        const Lines& left = a == 1 ? c.left1 : c.left2;
        EXPECT_EQ(rig.state().accounts.find(a)->lastCount, static_cast<std::int64_t>(left.size())) << what;
        EXPECT_EQ(rig.listed(a, left.size()), left) << what;
      }
      EXPECT_FALSE(rig.state().accounts.anyNewMail()) << what;
      EXPECT_FALSE(rig.window.busy) << what;
      expectAllClosed(rig.sock, what);
    }
}

TEST(DeleteSession, QuestionWithNoAsTheDefault) {
  for (MsgAnswer answer : {MsgAnswer::No, MsgAnswer::Cancel, MsgAnswer::Yes}) {
    Rig rig;
    rig.dialogs.answers = {answer};
    const auto before = rig.sock.sent.size();
    rig.del({{1, 1}});
    ASSERT_FALSE(rig.dialogs.boxes.empty());
    const auto& q = rig.dialogs.boxes[0];
    EXPECT_EQ(q.text, "○の付いたメールを削除します\r\nよろしいですか？");
    EXPECT_EQ(q.title, "Tarviメールチェッカー");
    EXPECT_EQ(q.buttons, MsgButtons::YesNo);
    EXPECT_EQ(q.icon, MsgIcon::None);
    EXPECT_TRUE(rig.dialogs.secondDefault[0]);
    EXPECT_EQ(subjects(rig.boxes[1001]).size(), answer == MsgAnswer::Yes ? 7u : 8u);
    if (answer != MsgAnswer::Yes) {
      EXPECT_TRUE(rig.sentSince(before).empty());
    }
  }
}

TEST(DeleteSession, AccountsWithoutMarksGetNoConnection) {
  Rig rig({1, 1, 2});
  rig.mark(3, 2);
  const int opened = rig.sock.opened;
  rig.monitor.deleteMarked();
  EXPECT_EQ(rig.sock.opened, opened + 1);
  EXPECT_EQ(rig.window.lastCaption(), "Tarviメールチェッカー -メール削除中:A3-");
  EXPECT_FALSE(rig.window.listEnabled);
  EXPECT_TRUE(rig.window.busy);
  // The fresh check follows the run's last session without the second
  // that spaces two sessions of a run.
  rig.timers.advance(9);
  EXPECT_EQ(rig.sock.opened, opened + 1);
  rig.timers.advance(1);
  EXPECT_EQ(rig.sock.opened, opened + 2);
  rig.settle();
  EXPECT_EQ(rig.sock.opened, opened + 4);  // then the other two of the check
  EXPECT_EQ(subjects(rig.boxes[1003]), Lines{"s1"});
  EXPECT_TRUE(rig.window.listEnabled);  // the check's end gives the list back
  EXPECT_FALSE(rig.window.busy);
}

// Another client renumbered A1 without changing its count or size: only
// the TOP replies tell. Nothing is deleted there, the user is told that
// the list will be renewed, and the fresh check must renew it, although
// STAT looks as before; otherwise every later delete of those marks is
// refused the same way.
TEST(DeleteSession, MailboxRenumberedToTheSameSizeIsListedAgain) {
  const struct {
    const char* name;
    Change change;
    Lines commands;
    Lines left;
  } cases[] = {
      {"one taken, one of the same size came",
       [](Mailbox& b) {
         b.messages.erase(b.messages.begin());
         b.messages.push_back(msg(9));
       },
       {"USER user1", "PASS pw1", "TOP 2 0", "QUIT"}, numbered(9, 1)},
      {"a later message replaced",
       [](Mailbox& b) {
         b.messages.erase(b.messages.begin() + 4);
         b.messages.push_back(msg(9));
       },
       {"USER user1", "PASS pw1", "TOP 2 0", "TOP 5 0", "QUIT"}, numbered(9, 5)},
  };
  for (auto& c : cases) {
    Rig rig;
    c.change(rig.boxes[1001]);
    const auto before = rig.sock.sent.size();
    rig.del({{1, 2}, {1, 5}, {2, 3}});
    const Lines sent = rig.sentSince(before), want = c.commands + kA2;
    ASSERT_GE(sent.size(), want.size()) << c.name;
    EXPECT_EQ(Lines(sent.begin(), sent.begin() + static_cast<long>(want.size())), want) << c.name;
    EXPECT_EQ(subjects(rig.boxes[1001]), c.left) << c.name;
    EXPECT_EQ(subjects(rig.boxes[1002]), numbered(2)) << c.name;
    EXPECT_EQ(rig.errors(), Lines{kChanged}) << c.name;
    EXPECT_EQ(rig.listed(1, 8), c.left) << c.name;
  }
}

TEST(DeleteSession, OnlyTheNextCheckKeepsQuietAboutTheMailboxesItChanged) {
  Rig rig;
  rig.store.set("Option1value", "1");
  ASSERT_TRUE(rig.monitor.loadSettings());
  rig.del({{1, 2}});
  EXPECT_FALSE(rig.state().accounts.anyNewMail());
  // New mail for the other account arrives; a check by hotkey announces it.
  rig.boxes[1002].messages.push_back(msg(4));
  rig.window.shows = 0;
  rig.monitor.run(HotkeyCommand::Check);
  rig.settle();
  EXPECT_TRUE(rig.state().accounts.find(2)->newMail);
  EXPECT_EQ(rig.window.shows, 1);
  // And so does the next check for the mailbox the run changed.
  rig.boxes[1001].messages.push_back(msg(9));
  rig.monitor.checkAll();
  rig.settle();
  EXPECT_TRUE(rig.state().accounts.find(1)->newMail);
}

}  // namespace
}  // namespace tarvi::fakes
