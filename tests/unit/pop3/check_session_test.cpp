#include "monitor/pop3/check_session.h"

#include <gtest/gtest.h>

#include "tests/unit/pop3/session_rig.h"

namespace tarvi::fakes {
namespace {

using Lines = std::vector<std::string>;
using namespace std::string_literals;

TEST(ReplyBuffer, EndOfMultiLineReplyWhereverTheChunksAreCut) {
  const std::pair<std::string, bool> cases[] = {
      {"+OK\r\nSubject: a\r\n.\r\n", true}, {"+OK\r\n.\r\n", true},
      {"+OK\nSubject: a\n.\n", true},    // LF-only line ends
      {"+OK\r\nSubject: a\n.\r", true},  // the LF may still be on its way
      {"+OK\r\n..stuffed\r\n", false},    {"+OK\r\nx.\r\n", false}, {"+OK\r\n.", false},
      {"+OK\r\nbody\0.\r\n"s, true},  // NUL counts as a line end
  };
  for (auto& [text, ended] : cases) {
    const std::string_view reply = text;
    for (std::size_t cut = 0; cut <= reply.size(); ++cut) {
      ReplyBuffer b;
      b.append(reply.substr(0, cut));
      b.multiLineEnded();
      b.append(reply.substr(cut));
      EXPECT_EQ(b.multiLineEnded(), ended) << text << " cut at " << cut;
    }
    ReplyBuffer bytes;
    for (char ch : reply) {
      bytes.append(std::string_view(&ch, 1));
      bytes.multiLineEnded();
    }
    EXPECT_EQ(bytes.multiLineEnded(), ended) << text << " byte by byte";
  }
}

TEST(ReplyBuffer, NulBecomesLineEndAndLeftoverLineEndsAreDropped) {
  const struct {
    std::string first, second;  // two chunks
    std::string bytes;
  } cases[] = {
      {"\n+OK\r\nA\0B\r\n.\r\n"s, "", "+OK\r\nA\r\nB\r\n.\r\n"},
      {"+OK\0"s, "\0"s, "+OK\r\n\r\n"},
      {"\0"s, "+OK\r\n"s, "\r\n+OK\r\n"},  // a NUL is not a leftover line end
      {"\r\n\0"s, "x"s, "\r\nx"},          // dropped CR LF, then the NUL
      {"a\0\0b"s, "c\0"s, "a\r\n\r\nbc\r\n"},
      {"abc"s, ""s, "abc"},
      {""s, "\n\rabc"s, "abc"},  // the reply starts in the second chunk
  };
  for (auto& c : cases) {
    ReplyBuffer b;
    b.append(c.first);
    b.append(c.second);
    EXPECT_EQ(b.bytes(), c.bytes) << c.first << "|" << c.second;
    if (&c == cases) {  // a whole reply
      EXPECT_TRUE(b.multiLineEnded());
      EXPECT_EQ(std::string(*b.firstLine()), "+OK\r\n");
    }
  }
}

TEST(ParseStat, FormsAndLimits) {
  const struct {
    const char* reply;
    std::int64_t count, size;  // -1: no STAT reply
  } cases[] = {
      {"+OK 2 345\r\n", 2, 345},         {"+OK 0 0\r\n", 0, 0},
      {"+OK 3 100 extra\r\n", 3, 100},   {"+OK 40000 5000000000\r\n", 40000, 5000000000},
      {"+OK 2147483647 1\r\n", 2147483647, 1}, {"+OK 2147483648 1\r\n", -1, -1},
      {"+OK 99999999999999999999999 1\r\n", -1, -1}, {"+OK\r\n", -1, -1}, {"+OK 3\r\n", -1, -1},
      {"+OK -1 5\r\n", -1, -1},          {"+OK x y\r\n", -1, -1}, {"+OK  3 5\r\n", -1, -1},
  };
  for (auto& c : cases) {
    auto r = parseStat(fromUtf8(c.reply));
    ASSERT_EQ(r.has_value(), c.count >= 0) << c.reply;
    if (r) {
      EXPECT_EQ(r->count, c.count) << c.reply;
      EXPECT_EQ(r->size, c.size) << c.reply;
    }
  }
}

struct Dialogue {
  const char* name;
  std::string greeting;
  std::map<std::string, std::string> replies;  // overrides of the mailbox
  int messages;
  Lines commands;
  Lines errors;
  std::int64_t total;  // a mailbox that counts is new
};

const Dialogue kDialogues[] = {
    {"two messages", "+OK ready\r\n", {}, 2, checkDialogue(2), {}, 2},
    {"empty mailbox", "+OK ready\r\n", {}, 0, checkDialogue(0), {}, 0},
    {"greeting refused", "-ERR busy\r\n", {}, 1, {"QUIT"}, {" busy\r\n"}, 0},
    {"user refused", "+OK\r\n", {{"USER", "-ERR no\r\n"}}, 1, {"USER user1", "QUIT"}, {" no\r\n"}, 0},
    {"wrong password", "+OK\r\n", {{"PASS", "-ERR [AUTH] failed\r\n"}}, 1, {"USER user1", "PASS pw1", "QUIT"},
     {" [AUTH] failed\r\n"}, 0},
    {"stat refused", "+OK\r\n", {{"STAT", "-ERR locked\r\n"}}, 1, checkDialogue(0), {" locked\r\n"}, 0},
    {"second top refused", "+OK\r\n", {{"TOP 2", "-ERR gone\r\n"}}, 3, checkDialogue(2), {" gone\r\n"}, 3},
    {"stat of another form", "+OK\r\n", {{"STAT", "+OK two\r\n"}}, 1, checkDialogue(0),
     {"STATの応答に誤りがあります"}, 0},
    // A refused QUIT closes at once: asking again would fail again.
    {"quit refused", "+OK\r\n", {{"QUIT", "-ERR no\r\n"}}, 0, checkDialogue(0), {" no\r\n"}, 0},
    {"top data that looks like replies", "+OK\r\n", {{"TOP 1", "+OK\r\n-ERR not really\r\n+OK x\r\n.\r\n"}},
     1, checkDialogue(1), {}, 1},
    {"lf only", "+OK\n",
     {{"USER", "+OK\n"}, {"PASS", "+OK\n"}, {"STAT", "+OK 1 10\n"}, {"TOP", "+OK\nSubject: lf\n.\n"},
      {"QUIT", "+OK\n"}},
     1, checkDialogue(1), {}, 1},
    {"banner line before the greeting", "* hello\r\n+OK ready\r\n", {}, 0, checkDialogue(0), {}, 0},
};

TEST(CheckSession, DialoguesHoweverTheRepliesAreCut) {
  for (auto& [how, split] : splits(40))
    for (auto& d : kDialogues) {
      SessionRig rig;
      rig.addMessages(d.messages);
      rig.box.replies = d.replies;
      rig.sock.greeting = d.greeting;
      rig.sock.split = split;
      rig.check();
      const std::string what = std::string(d.name) + " / " + how;
      EXPECT_EQ(rig.sock.sent, d.commands) << what;
      EXPECT_EQ(rig.errors, d.errors) << what;
      EXPECT_EQ(rig.record().newMail, d.total > 0) << what;
      EXPECT_EQ(rig.totals.mailTotal, d.total) << what;
      EXPECT_EQ(rig.ended, 1) << what;
      expectAllClosed(rig.sock, what);
      if (d.total == 2) {
        EXPECT_EQ(rig.subject(2), "s2") << what;
        EXPECT_EQ(toUtf8(rig.record().mail.find(2)->sender), "u2@x") << what;
      }
    }
}

TEST(CheckSession, SplitDoubleByteCharacterSurvives) {
  SessionRig rig;
  // "件名" in code page 932, cut between the bytes of each character.
  rig.box.messages = {"Subject: \x8c\x8f\x96\xbc\r\n\r\n"};
  rig.sock.split = bytewise;
  rig.check();
  EXPECT_EQ(rig.subject(1), "件名");
}

TEST(CheckSession, SecondCheckWithAndWithoutReportOnlyChanges) {
  const struct {
    const char* name;
    bool onlyChanges, quiet;
    void (*change)(Mailbox&);
    int tops;
    bool isNew;
    std::int64_t total;  // and the count kept
  } cases[] = {
      {"unchanged", true, false, [](Mailbox&) {}, 0, false, 3},
      {"unchanged, every check reports", false, false, [](Mailbox&) {}, 3, true, 3},
      {"same count, other size", true, false, [](Mailbox& b) { b.messages[2] = message("c", "longer"); }, 3,
       true, 3},
      {"one fewer after a delete run", true, true, [](Mailbox& b) { b.messages.pop_back(); }, 2, false, 2},
      {"quiet only with reportOnlyChanges", false, true, [](Mailbox& b) { b.messages.pop_back(); }, 2, true, 2},
      {"emptied", true, false, [](Mailbox& b) { b.messages.clear(); }, 0, false, 0},
  };
  for (auto& c : cases) {
    SessionRig rig;
    rig.options.reportOnlyChanges = c.onlyChanges;
    rig.addMessages(3);
    rig.check();
    ASSERT_TRUE(rig.record().newMail) << c.name;
    rig.record().newMail = false;
    rig.totals = {};
    rig.record().quietNextCheck = c.quiet;
    c.change(rig.box);
    const auto before = rig.sock.sent.size();
    rig.check();
    EXPECT_EQ(rig.sentSince(before), checkDialogue(c.tops)) << c.name;
    EXPECT_EQ(rig.record().newMail, c.isNew) << c.name;
    EXPECT_EQ(rig.record().lastCount, c.total) << c.name;
    EXPECT_EQ(rig.totals.mailTotal, c.total) << c.name;
    EXPECT_EQ(rig.subject(1), "s1") << c.name;  // listed by the first check, or again
  }
}

TEST(CheckSession, CountsBeyondTheMessageList) {
  SessionRig rig;
  rig.box.replies = {{"STAT", "+OK 40000 123456789012\r\n"}, {"TOP", "+OK\r\nSubject: same\r\n.\r\n"}};
  rig.totals.mailTotal = 32000;  // an earlier account's
  rig.check();
  EXPECT_EQ(rig.totals.mailTotal, 72000);
  EXPECT_EQ(rig.record().lastCount, 40000);
  EXPECT_EQ(rig.record().lastSize, 123456789012);
  EXPECT_EQ(rig.record().mail.size(), MessageList::kMaxMessages);
  EXPECT_EQ(rig.sock.sent, checkDialogue(MessageList::kMaxMessages));
}

}  // namespace
}  // namespace tarvi::fakes
