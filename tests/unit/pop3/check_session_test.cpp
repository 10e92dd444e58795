#include "monitor/pop3/check_session.h"

#include <gtest/gtest.h>

#include "tests/fakes/check_rig.h"

namespace tarvi {
namespace {

using fakes::CheckRig;
using fakes::Mailbox;
using Lines = std::vector<std::string>;
using namespace std::string_literals;

TEST(ReplyBuffer, EndOfMultiLineReplyWhereverTheChunksAreCut) {
  const struct {
    std::string reply;
    bool ended;
  } cases[] = {
      {"+OK\r\nSubject: a\r\n.\r\n", true},
      {"+OK\r\n.\r\n", true},
      {"+OK\nSubject: a\n.\n", true},       // LF-only line ends
      {"+OK\r\nSubject: a\n.\r", true},     // the LF may still be on its way
      {"+OK\r\n..stuffed\r\n", false},
      {"+OK\r\nx.\r\n", false},
      {"+OK\r\n.", false},
      {"+OK\r\nbody\0.\r\n"s, true},        // NUL counts as a line end
  };
  for (auto& c : cases) {
    const std::string& reply = c.reply;
    for (std::size_t cut = 0; cut <= reply.size(); ++cut) {
      ReplyBuffer b;
      b.append(std::string_view(reply).substr(0, cut));
      b.multiLineEnded();
      b.append(std::string_view(reply).substr(cut));
      EXPECT_EQ(b.multiLineEnded(), c.ended) << reply << " cut at " << cut;
    }
    ReplyBuffer bytes;
    for (char ch : reply) {
      bytes.append(std::string_view(&ch, 1));
      bytes.multiLineEnded();
    }
    EXPECT_EQ(bytes.multiLineEnded(), c.ended) << reply << " byte by byte";
  }
}

TEST(ReplyBuffer, NulBecomesLineEndAndLeftoverLineEndsAreDropped) {
  ReplyBuffer b;
  const std::string withNul("\n+OK\r\nA\0B\r\n.\r\n", 14);
  b.append(withNul);
  EXPECT_EQ(b.bytes(), "+OK\r\nA\r\nB\r\n.\r\n");
  EXPECT_TRUE(b.multiLineEnded());
  EXPECT_EQ(std::string(*b.firstLine()), "+OK\r\n");
}

TEST(ReplyBuffer, EveryNulBecomesLineEndWhereverItIs) {
  const struct {
    std::string first, second;  // two chunks
    std::string bytes;
  } cases[] = {
      {"+OK\0"s, "\0"s, "+OK\r\n\r\n"},
      {"\0"s, "+OK\r\n"s, "\r\n+OK\r\n"},  // a NUL is not a leftover line end
      {"\r\n\0"s, "x"s, "\r\nx"},            // dropped CR LF, then the NUL
      {"a\0\0b"s, "c\0"s, "a\r\n\r\nbc\r\n"},
      {"abc"s, ""s, "abc"},
      {""s, "\n\rabc"s, "abc"},  // the reply starts in the second chunk
  };
  for (auto& c : cases) {
    ReplyBuffer b;
    b.append(c.first);
    b.append(c.second);
    EXPECT_EQ(b.bytes(), c.bytes) << c.first << "|" << c.second;
  }
}

TEST(ParseStat, FormsAndLimits) {
  const struct {
    const char* reply;
    bool ok;
    std::int64_t count, size;
  } cases[] = {
      {"+OK 2 345\r\n", true, 2, 345},
      {"+OK 0 0\r\n", true, 0, 0},
      {"+OK 3 100 extra\r\n", true, 3, 100},
      {"+OK 40000 5000000000\r\n", true, 40000, 5000000000},
      {"+OK 2147483647 1\r\n", true, 2147483647, 1},
      {"+OK 2147483648 1\r\n", false, 0, 0},
      {"+OK 99999999999999999999999 1\r\n", false, 0, 0},
      {"+OK\r\n", false, 0, 0},
      {"+OK 3\r\n", false, 0, 0},
      {"+OK -1 5\r\n", false, 0, 0},
      {"+OK x y\r\n", false, 0, 0},
      {"+OK  3 5\r\n", false, 0, 0},
  };
  for (auto& c : cases) {
    auto r = parseStat(fromUtf8(c.reply));
    ASSERT_EQ(r.has_value(), c.ok) << c.reply;
    if (c.ok) {
      EXPECT_EQ(r->count, c.count) << c.reply;
      EXPECT_EQ(r->size, c.size) << c.reply;
    }
  }
}

struct Dialogue {
  const char* name;
  std::map<std::string, std::string> replies;  // overrides of the mailbox
  int messages;
  Lines commands;
  std::vector<std::string> boxes;
  bool markedNew;
  std::int64_t total;
};

const Dialogue kDialogues[] = {
    {"two messages", {}, 2,
     {"USER user1", "PASS pw1", "STAT", "TOP 1 5", "TOP 2 5", "QUIT"}, {}, true, 2},
    {"empty mailbox", {}, 0, {"USER user1", "PASS pw1", "STAT", "QUIT"}, {}, false, 0},
    {"greeting refused", {{"", ""}}, 1, {"QUIT"}, {" busy\r\n"}, false, 0},
    {"user refused", {{"USER", "-ERR no\r\n"}}, 1, {"USER user1", "QUIT"}, {" no\r\n"}, false, 0},
    {"wrong password", {{"PASS", "-ERR [AUTH] failed\r\n"}}, 1,
     {"USER user1", "PASS pw1", "QUIT"}, {" [AUTH] failed\r\n"}, false, 0},
    {"stat refused", {{"STAT", "-ERR locked\r\n"}}, 1,
     {"USER user1", "PASS pw1", "STAT", "QUIT"}, {" locked\r\n"}, false, 0},
    {"second top refused", {{"TOP 2", "-ERR gone\r\n"}}, 3,
     {"USER user1", "PASS pw1", "STAT", "TOP 1 5", "TOP 2 5", "QUIT"}, {" gone\r\n"}, true, 3},
    {"stat of another form", {{"STAT", "+OK two\r\n"}}, 1,
     {"USER user1", "PASS pw1", "STAT", "QUIT"}, {"STATの応答に誤りがあります"}, false, 0},
    {"quit refused", {{"QUIT", "-ERR no\r\n"}}, 0,
     {"USER user1", "PASS pw1", "STAT", "QUIT"}, {" no\r\n"}, false, 0},
    {"top data that looks like replies", {{"TOP 1", "+OK\r\n-ERR not really\r\n+OK x\r\n.\r\n"}}, 1,
     {"USER user1", "PASS pw1", "STAT", "TOP 1 5", "QUIT"}, {}, true, 1},
    {"lf only", {{"USER", "+OK\n"}, {"PASS", "+OK\n"}, {"STAT", "+OK 1 10\n"},
                 {"TOP", "+OK\nSubject: lf\n.\n"}, {"QUIT", "+OK\n"}}, 1,
     {"USER user1", "PASS pw1", "STAT", "TOP 1 5", "QUIT"}, {}, true, 1},
    {"banner line before the greeting", {}, 0, {"USER user1", "PASS pw1", "STAT", "QUIT"}, {}, false, 0},
};

// Runs one dialogue with every reply cut by `split`.
void runDialogue(const Dialogue& d, std::function<std::vector<std::string>(const std::string&)> split,
                 const std::string& how) {
  CheckRig rig;
  Mailbox& box = rig.addAccount(1, "A");
  for (int i = 1; i <= d.messages; ++i)
    box.messages.push_back(fakes::message("u" + std::to_string(i) + "@x", "s" + std::to_string(i)));
  for (auto& [k, v] : d.replies)
    if (!k.empty()) box.replies[k] = v;
  if (d.replies.count("")) rig.sock.greeting = "-ERR busy\r\n";
  if (std::string(d.name) == "banner line before the greeting")
    rig.sock.greeting = "* hello\r\n+OK ready\r\n";
  rig.sock.split = split;
  rig.start();
  rig.checkOne(1);
  const std::string what = std::string(d.name) + " / " + how;
  EXPECT_EQ(rig.sock.sent, d.commands) << what;
  EXPECT_EQ(rig.dialogs.texts(), d.boxes) << what;
  EXPECT_EQ(rig.tally.newMailFlg[1], d.markedNew) << what;
  EXPECT_EQ(rig.tally.mailTotal, d.total) << what;
  EXPECT_TRUE(rig.form.timers.enabled(TimerId::logontimer)) << what;
  EXPECT_EQ(rig.sock.current(), kNoSocket) << what;
  EXPECT_EQ(rig.sock.startups, rig.sock.cleanups) << what;
  if (d.markedNew && d.messages > 0 && d.boxes.empty() && std::string(d.name) == "two messages") {
    EXPECT_EQ(toUtf8(rig.mailList.at(1, 1).Subject), "s1") << what;
    EXPECT_EQ(toUtf8(rig.mailList.at(1, 2).Subject), "s2") << what;
    EXPECT_EQ(toUtf8(rig.mailList.at(1, 2).From), "u2@x") << what;
  }
}

TEST(CheckSession, Dialogues) {
  for (auto& d : kDialogues) runDialogue(d, nullptr, "whole");
}

TEST(CheckSession, DialoguesByteByByte) {
  for (auto& d : kDialogues) runDialogue(d, fakes::bytewise, "bytes");
}

TEST(CheckSession, DialoguesSplitAtEveryOffset) {
  for (std::size_t at = 1; at < 40; ++at)
    for (auto& d : kDialogues)
      runDialogue(d, [at](const std::string& s) { return fakes::cutAt(s, at); },
                  "cut at " + std::to_string(at));
}

TEST(CheckSession, SplitDoubleByteCharacterSurvives) {
  CheckRig rig;
  // "件名" in code page 932 right across a chunk boundary.
  rig.addAccount(1, "A").messages = {"Subject: \x8c\x8f\x96\xbc\r\n\r\n"};
  rig.sock.split = fakes::bytewise;
  rig.start();
  rig.checkOne(1);
  EXPECT_EQ(toUtf8(rig.mailList.at(1, 1).Subject), "件名");
}

TEST(CheckSession, KeepLastUnchangedMailboxIsNotNew) {
  CheckRig rig;
  rig.addAccount(1, "A").messages = {fakes::message("a", "1"), fakes::message("b", "2"),
                                     fakes::message("c", "3")};
  rig.store.set("Option6value", "1");
  rig.start();
  rig.checkOne(1);
  EXPECT_TRUE(rig.tally.newMailFlg[1]);
  EXPECT_EQ(rig.tally.mailTotal, 3);

  rig.tally.newMailFlg[1] = false;
  rig.tally.mailTotal = 0;
  const auto before = rig.sock.sent.size();
  rig.checkOne(1);
  EXPECT_EQ(rig.sentSince(before), (Lines{"USER user1", "PASS pw1", "STAT", "QUIT"}));
  EXPECT_FALSE(rig.tally.newMailFlg[1]);
  EXPECT_EQ(rig.tally.mailTotal, 3);
  EXPECT_EQ(toUtf8(rig.mailList.at(1, 3).Subject), "3");  // kept from the first check
}

TEST(CheckSession, NoNotifyAfterDeleteKeepsChangedMailboxQuiet) {
  CheckRig rig;
  auto& box = rig.addAccount(1, "A");
  box.messages = {fakes::message("a", "1"), fakes::message("b", "2")};
  rig.store.set("Option6value", "1");
  rig.start();
  rig.checkOne(1);
  box.messages.pop_back();
  rig.tally.newMailFlg[1] = false;
  rig.tally.noNotify = 1;
  rig.checkOne(1);
  EXPECT_FALSE(rig.tally.newMailFlg[1]);
  EXPECT_EQ(rig.tally.lastCount[1], 1);

  // Without Option6value noNotify does not matter.
  CheckRig plain;
  plain.addAccount(1, "A").messages = {fakes::message("a", "1")};
  plain.start();
  plain.tally.noNotify = 1;
  plain.checkOne(1);
  EXPECT_TRUE(plain.tally.newMailFlg[1]);
}

TEST(CheckSession, EmptyMailboxClearsLastCount) {
  CheckRig rig;
  auto& box = rig.addAccount(1, "A");
  box.messages = {fakes::message("a", "1")};
  rig.store.set("Option6value", "1");
  rig.start();
  rig.checkOne(1);
  box.messages.clear();
  rig.checkOne(1);
  EXPECT_EQ(rig.tally.lastCount[1], 0);
}

TEST(CheckSession, CountsBeyondTheMailTable) {
  CheckRig rig;
  auto& box = rig.addAccount(1, "A");
  box.replies["STAT"] = "+OK 40000 123456789012\r\n";
  box.replies["TOP"] = "+OK\r\nSubject: same\r\n.\r\n";
  rig.start();
  rig.tally.mailTotal = 32000;  // an earlier account's
  rig.checkOne(1);
  EXPECT_EQ(rig.tally.mailTotal, 72000);
  EXPECT_EQ(rig.tally.lastCount[1], 40000);
  EXPECT_EQ(rig.tally.lastSize[1], 123456789012);
  EXPECT_EQ(rig.mailList.messages(), MailList::kMaxMessages);
  EXPECT_EQ(rig.sock.sent[rig.sock.sent.size() - 2], "TOP 32767 5");
  EXPECT_EQ(rig.sock.sent.back(), "QUIT");
}

TEST(CheckSession, TableGrowsKeepingOtherAccounts) {
  CheckRig rig;
  rig.addAccount(1, "A").messages = {fakes::message("a", "kept")};
  auto& b2 = rig.addAccount(2, "B");
  for (int i = 0; i < 25; ++i) b2.messages.push_back(fakes::message("b", std::to_string(i + 1)));
  rig.start();
  rig.checkOne(1);
  rig.checkOne(2);
  EXPECT_GE(rig.mailList.messages(), 25);
  EXPECT_EQ(toUtf8(rig.mailList.at(1, 1).Subject), "kept");
  EXPECT_EQ(toUtf8(rig.mailList.at(2, 25).Subject), "25");
}

}  // namespace
}  // namespace tarvi
