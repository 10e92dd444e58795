// The fast check: UIDL bookkeeping, pipelined TOP requests, the kept list
// across restarts and the delete run's check by unique id.
#include <gtest/gtest.h>

#include <algorithm>

#include "monitor/pop3/check_session.h"
#include "monitor/state/kept_list.h"
#include "tests/fakes/monitor_rig.h"

namespace tarvi::fakes {
namespace {

using Lines = std::vector<std::string>;

std::string msg(int i) { return message("u" + std::to_string(i) + "@x", "s" + std::to_string(i)); }

int count(const Lines& lines, const std::string& prefix) {
  return static_cast<int>(std::count_if(lines.begin(), lines.end(),
                                        [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
}
// The TOP requests that list a message (not those that only look at one).
int listings(const Lines& lines) {
  return static_cast<int>(std::count_if(lines.begin(), lines.end(), [](const std::string& l) {
    return l.rfind("TOP ", 0) == 0 && l.size() > 2 && l.compare(l.size() - 2, 2, " 5") == 0;
  }));
}

// One account with the fast check on, its mailbox holding messages 1..n.
struct FastRig : MonitorRig {
  Mailbox& box;
  explicit FastRig(int n, bool pipelining = true) : box(addAccount(1, "A")) {
    store.set("Fastcheck", "1");
    box.pipelining = pipelining;
    for (int i = 1; i <= n; ++i) box.messages.push_back(msg(i));
  }
  // A check; the commands it sent.
  Lines check() {
    const std::size_t from = sock.sent.size();
    checkAll();
    return commands(from);
  }
  // The subjects listed, in message order.
  Lines subjects() {
    Lines out;
    const AccountState& r = *state().accounts.find(1);
    for (int m = 1; m <= r.lastCount; ++m) out.push_back(toUtf8(r.mail.find(m)->subject));
    return out;
  }
  Lines expected(std::initializer_list<int> numbers) {
    Lines out;
    for (int i : numbers) out.push_back("s" + std::to_string(i));
    return out;
  }
  bool announced() { return state().accounts.find(1)->newMail; }
};

TEST(ParseUidl, TrustedListingsAndHostileOnes) {
  const std::string id70(70, 'x');
  const struct {
    std::string reply;
    int count;
    std::int64_t limit;
    Lines uids;  // empty: not to be trusted
  } cases[] = {
      {"+OK\r\n1 a\r\n2 b\r\n.\r\n", 2, 2, {"a", "b"}},
      {"+OK\r\n2 b\r\n1 a\r\n.\r\n", 2, 2, {"a", "b"}},       // any order
      {"+OK\n1 a\n2  b \n.\n", 2, 2, {"a", "b"}},             // LF only, blanks
      {"+OK\r\n1 a\r\n2 b\r\n3 c\r\n.\r\n", 2, 3, {"a", "b"}},  // past what a list holds
      {"+OK\r\n1 " + id70 + "\r\n.\r\n", 1, 1, {id70}},
      {"+OK\r\n1 " + id70 + "y\r\n.\r\n", 1, 1, {}},  // 71 characters
      {"+OK\r\n1 a\r\n1 b\r\n.\r\n", 1, 1, {}},       // a number twice
      {"+OK\r\n1 a\r\n2 a\r\n.\r\n", 2, 2, {}},       // an id twice
      {"+OK\r\n1 a\r\n.\r\n", 2, 2, {}},              // a message left out
      {"+OK\r\n1 a\r\n3 c\r\n.\r\n", 2, 2, {}},       // beyond the count
      {"+OK\r\n1 a\r\n99999999999999999999999 c\r\n.\r\n", 1, 1, {}},
      {"+OK\r\n0 a\r\n.\r\n", 1, 1, {}},
      {"+OK\r\n1\r\n.\r\n", 1, 1, {}},           // no id
      {"+OK\r\n1 a b\r\n.\r\n", 1, 1, {}},       // a blank inside
      {"+OK\r\nx a\r\n.\r\n", 1, 1, {}},
      {"+OK\r\n1 \x7f\r\n.\r\n", 1, 1, {}},
      {"+OK\r\n.\r\n", 0, 0, {""}},  // an empty mailbox: an empty list (marker "")
  };
  for (auto& c : cases) {
    auto uids = parseUidl(c.reply, c.count, c.limit);
    if (c.uids.empty()) {
      EXPECT_FALSE(uids) << c.reply;
    } else {
      ASSERT_TRUE(uids) << c.reply;
      EXPECT_EQ(*uids, c.uids == Lines{""} ? Lines{} : c.uids) << c.reply;
    }
  }
}

TEST(ParseUidl, CapaPipelining) {
  EXPECT_TRUE(listsPipelining("+OK\r\nTOP\r\nPIPELINING\r\nUIDL\r\n.\r\n"));
  EXPECT_TRUE(listsPipelining("+OK\r\npipelining x\r\n.\r\n"));
  EXPECT_FALSE(listsPipelining("+OK\r\nTOP\r\nUIDL\r\n.\r\n"));
  EXPECT_FALSE(listsPipelining("+OK PIPELINING\r\n.\r\n"));  // the status line lists nothing
}

// Several replies one after another, however the bytes are cut, read as
// the same replies in the same order.
TEST(ReplyBuffer, PipelinedRepliesWhereverTheChunksAreCut) {
  const std::string replies[] = {"+OK\r\nSubject: a\r\n\r\nx\r\n.\r\n", "+OK\n.\n",
                                 "+OK\r\n..dot\r\n.\r\n", "+OK\r\nSubject: b\r\n.\r\n"};
  std::string all;
  for (auto& r : replies) all += r;
  auto read = [&](const std::vector<std::string>& chunks) {
    ReplyBuffer b;
    Lines out;
    for (auto& c : chunks) {
      b.append(c);
      while (b.firstLine() && b.multiLineEnded()) {
        // The end line's LF may still be on its way when "\n.\r" is in.
        std::string r(b.endedReply());
        while (r.back() == '\n' || r.back() == '\r') r.pop_back();
        out.push_back(r);
        b.dropEndedReply();
      }
    }
    return out;
  };
  const Lines whole = read({all});
  ASSERT_EQ(whole.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(whole[i].substr(0, 3), "+OK") << i;
  EXPECT_EQ(whole[0] + "\r\n", replies[0]);
  EXPECT_EQ(read(bytewise(all)), whole);
  for (std::size_t a = 1; a < all.size(); ++a)
    for (std::size_t b = a + 1; b < all.size(); b += 3)
      EXPECT_EQ(read({all.substr(0, a), all.substr(a, b - a), all.substr(b)}), whole) << a << "," << b;
}

TEST(FastCheck, AsksOnlyForMailNotListedBefore) {
  for (bool pipelining : {false, true}) {
    SCOPED_TRACE(pipelining ? "pipelined" : "one at a time");
    FastRig rig(3, pipelining);
    ASSERT_TRUE(rig.start());
    Lines first = rig.check();
    EXPECT_EQ(count(first, "UIDL"), 1);
    EXPECT_EQ(count(first, "CAPA"), 1);
    EXPECT_EQ(listings(first), 3);
    EXPECT_EQ(rig.subjects(), rig.expected({1, 2, 3}));
    EXPECT_TRUE(rig.announced());

    // Unchanged: no CAPA, no TOP but the look at the last message known,
    // nothing announced.
    EXPECT_EQ(rig.check(), (Lines{"USER user1", "PASS pw1", "STAT", "UIDL", "TOP 3 0", "QUIT"}));
    EXPECT_FALSE(rig.announced());

    // One new message among them, message 1 gone (the rest renumbered).
    rig.box.messages.erase(rig.box.messages.begin());
    rig.box.messages.push_back(msg(4));
    Lines third = rig.check();
    EXPECT_EQ(listings(third), 1);
    EXPECT_EQ(count(third, "TOP 3 5"), 1);
    EXPECT_EQ(rig.subjects(), rig.expected({2, 3, 4}));
    EXPECT_TRUE(rig.announced());
    // "N" for exactly the id never seen before.
    const PopupGrid& grid = rig.monitor.popup().grid;
    ASSERT_EQ(grid.rowCount(), 4);
    for (int row = 1; row < grid.rowCount(); ++row)
      EXPECT_EQ(grid.row(row).isNew, grid.row(row).msgno == 3) << grid.row(row).msgno;
  }
}

TEST(FastCheck, EmptiedMailboxForgetsWhatWasKept) {
  FastRig rig(2);
  ASSERT_TRUE(rig.start());
  rig.check();
  rig.box.messages.clear();
  rig.check();
  ASSERT_EQ(rig.lists.files.size(), 1u);
  auto kept = decodeKeptList(rig.state().accounts.find(1)->identity, rig.lists.files.begin()->second);
  ASSERT_TRUE(kept);
  EXPECT_TRUE(kept->empty());
  const int writes = rig.lists.writes;
  rig.check();  // still empty: nothing to write
  EXPECT_EQ(rig.lists.writes, writes);
  // The same mail coming back is news again.
  rig.box.messages = {msg(1)};
  EXPECT_EQ(listings(rig.check()), 1);
  EXPECT_TRUE(rig.announced());
}

TEST(FastCheck, PipelinedWindowsRepliesCutAnywhere) {
  const int n = CheckSession::kWindow * 2 + 5;
  FastRig reference(n);
  ASSERT_TRUE(reference.start());
  reference.check();
  const Lines all = reference.subjects();
  ASSERT_EQ(all.size(), static_cast<std::size_t>(n));
  // Never more requests in flight than a window.
  std::size_t most = 0;
  for (auto& s : reference.sock.sent)
    most = std::max<std::size_t>(most, static_cast<std::size_t>(std::count(s.begin(), s.end(), '\n')) + 1);
  EXPECT_GT(most, 1u);
  EXPECT_LE(most, static_cast<std::size_t>(CheckSession::kWindow));

  for (std::size_t cut : {1, 2, 3, 7, 30, 100, 1000}) {
    FastRig rig(n);
    rig.sock.split = [cut](const std::string& s) {
      Lines out;
      for (std::size_t at = 0; at < s.size(); at += cut) out.push_back(s.substr(at, cut));
      return out;
    };
    ASSERT_TRUE(rig.start());
    EXPECT_EQ(listings(rig.check()), n) << cut;
    EXPECT_EQ(rig.subjects(), all) << "cut every " << cut;
    EXPECT_EQ(rig.sock.current(), kNoSocket) << cut;
  }
}

TEST(FastCheck, ListsThroughASocketThatTakesAFewBytesAtATime) {
  // On a slow link the socket takes part of a pipelined window or of a TLS
  // record and then would block; the rest goes on the write notification.
  const int n = CheckSession::kWindow + 5;
  for (std::int16_t mode : {kPlain, kImplicitTls, kStartTls})
    for (std::size_t room : {1, 7, 300}) {
      const std::string what = std::to_string(mode) + " room " + std::to_string(room);
      FastRig rig(n);
      rig.box.implicitTls = mode == kImplicitTls;
      rig.store.set("Tlsmode1", std::to_string(mode));
      rig.sock.sendRoom = room;
      ASSERT_TRUE(rig.start());
      EXPECT_EQ(listings(rig.check()), n) << what;
      EXPECT_EQ(rig.subjects().size(), static_cast<std::size_t>(n)) << what;
      EXPECT_EQ(rig.subjects().back(), "s" + std::to_string(n)) << what;
      EXPECT_TRUE(rig.dialogs.boxes.empty()) << what;
      EXPECT_EQ(rig.sock.current(), kNoSocket) << what;
    }
}

TEST(FastCheck, ACheckCutShortAfterStatIsRepeatedInFull) {
  // With "report only changes", a session that failed after STAT must not
  // leave its count and size recorded: the next check would find nothing
  // changed, and the new message would never be listed.
  for (const char* fast : {"1", "0"}) {
    FastRig rig(2);
    rig.store.set("Fastcheck", fast);
    rig.store.set("Option6value", "1");
    ASSERT_TRUE(rig.start());
    rig.check();
    rig.box.messages.push_back(msg(3));
    rig.box.replies["TOP 3 "] = "-ERR busy\r\n";
    rig.check();
    rig.box.replies.clear();
    rig.check();
    EXPECT_EQ(rig.subjects(), rig.expected({1, 2, 3})) << fast;
    EXPECT_TRUE(rig.announced()) << fast;
  }
}

TEST(FastCheck, RestartAnnouncesNothingAlreadyAnnounced) {
  FastRig rig(3);
  ASSERT_TRUE(rig.start());
  rig.check();
  ASSERT_EQ(rig.lists.files.size(), 1u);

  FastRig again(3);
  again.lists.files = rig.lists.files;  // what the first monitor left
  ASSERT_TRUE(again.start());
  Lines after = again.check();
  EXPECT_EQ(listings(after), 0);
  EXPECT_FALSE(again.announced());
  EXPECT_EQ(again.subjects(), again.expected({1, 2, 3}));
  EXPECT_TRUE(again.dialogs.boxes.empty());

  // A damaged file is set aside; the account starts afresh.
  FastRig damaged(3);
  damaged.lists.files = rig.lists.files;
  damaged.lists.files.begin()->second[30] ^= 1;
  ASSERT_TRUE(damaged.start());
  EXPECT_EQ(listings(damaged.check()), 3);
  EXPECT_EQ(damaged.lists.setAsideFiles.size(), 1u);
  EXPECT_EQ(damaged.subjects(), damaged.expected({1, 2, 3}));
  EXPECT_EQ(damaged.lists.files.size(), 1u);  // written anew
}

TEST(FastCheck, UntrustedOrRefusedUidlGetsTheOldDialogue) {
  const std::string reply71 = "+OK\r\n1 a\r\n2 " + std::string(71, 'b') + "\r\n3 c\r\n.\r\n";
  const std::pair<const char*, std::string> cases[] = {
      {"refused", "-ERR no UIDL here\r\n"},
      {"id twice", "+OK\r\n1 a\r\n2 a\r\n3 c\r\n.\r\n"},
      {"71 characters", reply71},
      {"absurd number", "+OK\r\n1 a\r\n2 b\r\n3 c\r\n70000 d\r\n.\r\n"},
      {"too few", "+OK\r\n1 a\r\n.\r\n"},
  };
  for (auto& [what, reply] : cases) {
    FastRig rig(3);
    rig.box.replies["UIDL"] = reply;
    ASSERT_TRUE(rig.start());
    for (int round = 0; round < 2; ++round) {
      const Lines sent = rig.check();
      EXPECT_EQ(sent, (Lines{"USER user1", "PASS pw1", "STAT", "UIDL", "TOP 1 5", "TOP 2 5", "TOP 3 5", "QUIT"}))
          << what;
      EXPECT_EQ(rig.subjects(), rig.expected({1, 2, 3})) << what;
    }
    EXPECT_TRUE(rig.dialogs.boxes.empty()) << what;
    for (int m = 1; m <= 3; ++m) EXPECT_TRUE(rig.item(1, m).uid.empty()) << what;
  }
}

TEST(FastCheck, RefusedCapaOrTopMidWindow) {
  {
    FastRig rig(3);
    rig.box.replies["CAPA"] = "-ERR\r\n";
    ASSERT_TRUE(rig.start());
    EXPECT_EQ(rig.check(), (Lines{"USER user1", "PASS pw1", "STAT", "UIDL", "CAPA", "TOP 1 5", "TOP 2 5",
                                 "TOP 3 5", "QUIT"}));
    EXPECT_EQ(rig.subjects(), rig.expected({1, 2, 3}));
  }
  {
    // A refusal among pipelined replies: the connection is given up with
    // the server's text, and the messages not read are asked for again.
    FastRig rig(5);
    rig.box.replies["TOP 3 "] = "-ERR gone\r\n";
    ASSERT_TRUE(rig.start());
    rig.check();
    EXPECT_EQ(rig.dialogs.boxes.size(), 1u);
    EXPECT_EQ(rig.sock.current(), kNoSocket);
    rig.box.replies.clear();
    rig.dialogs.boxes.clear();
    EXPECT_EQ(listings(rig.check()), 3);  // 3, 4, 5: the first two were read
    EXPECT_EQ(rig.subjects(), rig.expected({1, 2, 3, 4, 5}));
  }
}

TEST(FastCheck, DeleteChecksEachMarkByUidlAndByWhatWasListed) {
  const struct {
    const char* what;
    bool positionalIds;  // the server's id of a message is its number
    bool replaced;       // another client deleted message 2 and a new one came
    Lines looks;         // the delete session's checks
    Lines left;          // the mailbox afterwards
  } cases[] = {
      {"unchanged", false, false, {"UIDL 2", "TOP 2 0", "UIDL 3", "TOP 3 0"}, {msg(1)}},
      {"renumbered", false, true, {"UIDL 2"}, {msg(1), msg(3), msg(9)}},
      {"renumbered, ids by position", true, true, {"UIDL 2", "TOP 2 0"}, {msg(1), msg(3), msg(9)}},
  };
  for (auto& c : cases) {
    FastRig rig(3);
    if (c.positionalIds) rig.box.uids = {"1", "2", "3"};
    ASSERT_TRUE(rig.start());
    rig.check();
    rig.mark(1, 2);
    rig.mark(1, 3);
    if (c.replaced) {
      rig.box.messages.erase(rig.box.messages.begin() + 1);
      rig.box.messages.push_back(msg(9));
    }
    const std::size_t from = rig.sock.sent.size();
    rig.dialogs.answers.push_back(MsgAnswer::Yes);
    rig.monitor.deleteMarked();
    rig.settle(70);
    Lines session = rig.commands(from);
    session.erase(std::find(session.begin(), session.end(), "QUIT"), session.end());
    Lines looks;
    for (auto& l : session)
      if (l.rfind("UIDL ", 0) == 0 || l.rfind("TOP ", 0) == 0) looks.push_back(l);
    EXPECT_EQ(looks, c.looks) << c.what;
    EXPECT_EQ(rig.box.messages, c.left) << c.what;
  }
}

TEST(FastCheck, IdsAServerGaveAgainAreNotTakenForTheMessagesListed) {
  // A server that numbers its ids by position: another client removes
  // message 1 and a new one arrives, and the ids are those of before.
  FastRig rig(2);
  rig.box.uids = {"1", "2"};
  ASSERT_TRUE(rig.start());
  rig.check();
  rig.box.messages = {msg(2), msg(3)};
  const Lines sent = rig.check();
  EXPECT_EQ(listings(sent), 2) << "listed anew";
  EXPECT_EQ(rig.subjects(), rig.expected({2, 3}));
  EXPECT_TRUE(rig.announced());
  // "N" for s3 alone: s2 was listed before.
  const PopupGrid& grid = rig.monitor.popup().grid;
  ASSERT_EQ(grid.rowCount(), 3);
  EXPECT_FALSE(grid.row(1).isNew);
  EXPECT_TRUE(grid.row(2).isNew);
  // Listed anew, the ids stand for these messages now.
  EXPECT_EQ(listings(rig.check()), 0);
  EXPECT_FALSE(rig.announced());
}

}  // namespace
}  // namespace tarvi::fakes
