#include "monitor/pop3/retrieve_session.h"

#include "monitor/mail/extract.h"

#include <gtest/gtest.h>

#include "tests/unit/pop3/session_rig.h"

namespace tarvi::fakes {
namespace {

// Three accounts listed by a first check: A1 with five messages, A2 with
// two, A3 with one.
struct Rig : ListedRig {
  Rig() : ListedRig({5, 2, 1}) {}
  void retrieve(const Marks& marks) { run(marks, &Monitor::retrieveMarked); }
  bool hasBody(int a, int m) { return !item(a, m).body.empty(); }
};

const Lines kA1A3 = {"USER user1", "PASS pw1", "RETR 2", "QUIT", "USER user3", "PASS pw3", "RETR 1", "QUIT"};

const struct RetrieveCase {
  const char* name;
  Marks marks;
  std::map<std::string, std::string> replies;  // overrides on A1
  void (*change)(Mailbox&);                    // what another client did to A1 since the check
  Lines commands;                              // sent during the run
  Marks retrieved;                             // messages with a body after it
  Lines errors;
} kCases[] = {
    {"marks on two accounts", {{1, 2}, {1, 5}, {3, 1}}, {}, nullptr,
     {"USER user1", "PASS pw1", "RETR 2", "RETR 5", "QUIT", "USER user3", "PASS pw3", "RETR 1", "QUIT"},
     {{1, 2}, {1, 5}, {3, 1}}, {}},
    {"single mark", {{2, 2}}, {}, nullptr, {"USER user2", "PASS pw2", "RETR 2", "QUIT"}, {{2, 2}}, {}},
    {"refused retr ends the account", {{1, 2}, {1, 5}, {3, 1}}, {{"RETR 2", "-ERR no such message\r\n"}},
     nullptr, kA1A3, {{3, 1}}, {" no such message\r\n"}},
    {"second retr refused keeps the first", {{1, 2}, {1, 5}}, {{"RETR 5", "-ERR gone\r\n"}}, nullptr,
     {"USER user1", "PASS pw1", "RETR 2", "RETR 5", "QUIT"}, {{1, 2}}, {" gone\r\n"}},
    {"wrong password", {{1, 1}, {3, 1}}, {{"PASS", "-ERR [AUTH] failed\r\n"}}, nullptr,
     {"USER user1", "PASS pw1", "QUIT", "USER user3", "PASS pw3", "RETR 1", "QUIT"}, {{3, 1}},
     {" [AUTH] failed\r\n"}},
    {"data lines that look like replies", {{1, 3}},
     {{"RETR 3", "+OK 50 octets\r\nFrom: u3@x\r\nSubject: s3\r\n\r\n+OK not a status\r\n"
                 "-ERR not a refusal either\r\n.\r\n"}},
     nullptr, {"USER user1", "PASS pw1", "RETR 3", "QUIT"}, {{1, 3}}, {}},
    {"empty message", {{1, 4}}, {{"RETR 4", "+OK\r\nFrom: u4@x\r\nSubject: s4\r\n\r\n.\r\n"}}, nullptr,
     {"USER user1", "PASS pw1", "RETR 4", "QUIT"}, {{1, 4}}, {}},
    // The time limit sends QUIT and the run goes on with the next account.
    {"no answer in time", {{1, 2}, {3, 1}}, {{"RETR 2", ""}}, nullptr, kA1A3, {{3, 1}}, {}},
    // Number 2 now denotes the listed message 3: its body must not be
    // stored as message 2's, nor the others fetched.
    {"renumbered mailbox", {{1, 2}, {1, 4}, {3, 1}}, {},
     [](Mailbox& b) { b.messages.erase(b.messages.begin()); }, kA1A3, {{3, 1}},
     {toUtf8(kRetrieveChanged) + "\r\n  A1"}},
};

TEST(RetrieveSession, RunsHoweverTheRepliesAreCut) {
  for (auto& [how, split] : splits(60))
    for (auto& c : kCases) {
      Rig rig;
      rig.boxes[1001].replies = c.replies;
      if (c.change) c.change(rig.boxes[1001]);
      rig.sock.split = split;
      rig.window.actions = true;  // as the marks left the buttons
      const auto before = rig.sock.sent.size();
      rig.retrieve(c.marks);
      const std::string what = std::string(c.name) + " / " + how;
      EXPECT_EQ(rig.sentSince(before), c.commands) << what;
      EXPECT_EQ(rig.dialogs.texts(), c.errors) << what;
      for (auto& box : rig.dialogs.boxes)
        EXPECT_EQ(box.icon, c.change ? MsgIcon::Exclamation : MsgIcon::Critical) << what;
      for (int a = 1; a <= 3; ++a)
        for (int m = 1; m <= rig.state().accounts.find(a)->lastCount; ++m) {
          const bool want = std::count(c.retrieved.begin(), c.retrieved.end(), std::make_pair(a, m)) > 0;
          EXPECT_EQ(rig.hasBody(a, m), want) << what << " message " << a << "," << m;
          EXPECT_FALSE(rig.item(a, m).marked) << what << " message " << a << "," << m;
        }
      EXPECT_EQ(rig.window.lastCaption(), "8通のメールが届いています!") << what;
      EXPECT_EQ(rig.monitor.checker().run(), Checker::Run::None) << what;
      EXPECT_TRUE(rig.window.listEnabled) << what;
      EXPECT_FALSE(rig.window.actions) << what;
      EXPECT_FALSE(rig.window.busy) << what;
      expectAllClosed(rig.sock, what);
    }
}

TEST(RetrieveSession, CaptionsAndPacingOfTheRun) {
  Rig rig;
  rig.mark(1, 2);
  rig.mark(3, 1);
  rig.window.setCaption(u"before");
  const auto captions = rig.window.captions.size();
  rig.monitor.retrieveMarked();
  EXPECT_TRUE(rig.window.busy);
  EXPECT_FALSE(rig.window.listEnabled);  // greyed while a session works
  // A1's session is over; A3 follows a second later, on the check's timer.
  EXPECT_EQ(rig.timers.dueIn(TimerId::nextAccount), 1000u);
  rig.timers.advance(999);
  EXPECT_EQ(rig.sock.opened, 4);
  rig.timers.advance(1);
  EXPECT_EQ(rig.sock.opened, 5);
  rig.settle();
  EXPECT_EQ(Lines(rig.window.captions.begin() + static_cast<long>(captions), rig.window.captions.end()),
            (Lines{"Tarviメールチェッカー -メール取得中:A1-", "Tarviメールチェッカー -メール取得中:A3-", "before"}));
  EXPECT_FALSE(rig.timers.running(TimerId::nextAccount));
  EXPECT_FALSE(rig.timers.running(TimerId::sessionDeadline));
}

TEST(RetrieveSession, RetrievedMessagesAreNotFetchedAgain) {
  Rig rig;
  rig.item(1, 1).body = u"already here";
  auto before = rig.sock.sent.size();
  rig.retrieve({{1, 1}, {1, 3}});
  EXPECT_EQ(rig.sentSince(before), (Lines{"USER user1", "PASS pw1", "RETR 3", "QUIT"}));
  EXPECT_EQ(toUtf8(rig.item(1, 1).body), "already here");
  // Everything marked is retrieved already: no server is touched, the
  // marks go all the same.
  const int opened = rig.sock.opened;
  rig.retrieve({{1, 1}, {1, 3}});
  EXPECT_EQ(rig.sock.opened, opened);
  EXPECT_FALSE(rig.item(1, 1).marked);
  EXPECT_FALSE(rig.item(1, 3).marked);
}

TEST(RetrieveSession, LogHoldsTheWholeReply) {
  Rig rig;
  rig.store.set("Option8value", "1");
  ASSERT_TRUE(rig.monitor.loadSettings());
  rig.retrieve({{1, 2}});
  const std::string log = toUtf8(rig.monitor.checker().sessionLog());
  const auto reply = log.find("+OK 38 octets\r\nFrom: u2@x\r\nSubject: s2\r\n\r\nbody line\r\n");
  ASSERT_NE(reply, std::string::npos) << log;
  EXPECT_LT(log.find("RETR 2"), reply);
  EXPECT_LT(reply, log.find("QUIT"));
  EXPECT_EQ(log.find("USER user3"), std::string::npos);  // the run's own log
}

TEST(SameListing, ByMessageIdElseBySenderSubjectAndDate) {
  const auto listedAs = [](const char* top) {
    MailItem item;
    item.identity = messageIdentity(fromUtf8(top));
    return item;
  };
  const MailItem withId = listedAs("+OK\r\nFrom: a\r\nMessage-ID:\r\n <1@x>\r\nSubject: s\r\n\r\nb\r\n.\r\n");
  const MailItem withoutId = listedAs("+OK\r\nFrom: a\r\nSubject: s\r\nDate: Mon, 7 Dec 2026\r\n\r\nb\r\n.\r\n");
  const struct {
    const MailItem& item;
    const char* reply;
    bool same;
  } cases[] = {
      {withId, "+OK\r\nmessage-id: <1@x>\r\n\r\n.\r\n", true},  // TOP n 0: the header is enough
      {withId, "+OK\r\nFrom: a\r\nSubject: s\r\nMessage-ID: <2@x>\r\n\r\n.\r\n", false},
      // Only a field at the start of a header line counts.
      {withId, "+OK\r\nX-Message-ID: <1@x>\r\nFrom: a\r\nSubject: s\r\n\r\n.\r\n", false},
      {withId, "+OK\r\nFrom: a\r\nSubject: s\r\n\r\nMessage-ID: <1@x>\r\n.\r\n", false},
      {withoutId, "+OK\r\nDate: Mon, 7 Dec 2026\r\nSubject: s\r\nFrom: a\r\n\r\n.\r\n", true},
      {withoutId, "+OK\r\nFrom: a\r\nSubject: s\r\nDate: Tue, 8 Dec 2026\r\n\r\n.\r\n", false},
      {withoutId, "+OK\r\nFrom: b\r\nSubject: s\r\nDate: Mon, 7 Dec 2026\r\n\r\n.\r\n", false},
  };
  for (auto& c : cases) EXPECT_EQ(sameListing(c.item, fromUtf8(c.reply)), c.same) << c.reply;
  EXPECT_EQ(toUtf8(topPart(u"+OK\r\nA: b\r\n\r\n1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n.\r\n")),
            "+OK\r\nA: b\r\n\r\n1\r\n2\r\n3\r\n4\r\n5\r\n.\r\n");
}

TEST(RetrieveSession, ServerWithBareLineFeedsIsListedAndRead) {
  Rig rig;
  // The same mailboxes again, every CR LF of every reply sent as LF alone.
  rig.sock.split = [](const std::string& reply) {
    std::string bare;
    for (char c : reply)
      if (c != '\r') bare += c;
    return Lines{bare};
  };
  rig.checkAll();
  EXPECT_EQ(toUtf8(rig.item(1, 2).subject), "s2");
  EXPECT_EQ(toUtf8(rig.item(1, 2).sender), "u2@x");
  rig.retrieve({{1, 2}});
  EXPECT_TRUE(rig.dialogs.boxes.empty());
  EXPECT_EQ(toUtf8(rig.item(1, 2).body), "body line\r\n.\r\n");  // as from any server
}


// With the full decoding the list shows today's mail readably, and the
// retrieve and delete runs still recognise every listed message, also
// without a Message-ID and from a server that ends its lines with LF alone.
TEST(FullDecoding, ListsRetrievesAndDeletes) {
  const std::string utf8 =
      "From: =?ISO-8859-1?Q?Ren=E9?= <r@x>\r\nSubject: =?UTF-8?B?5Lya6K2w?=\r\n"
      "Date: Mon, 7 Dec 2026\r\nContent-Type: text/plain; charset=UTF-8\r\n"
      "Content-Transfer-Encoding: base64\r\n\r\n5pys5paH44CCCg==\r\n";
  for (const bool bareLf : {false, true}) {
    for (const char* decodeAll : {"1", "0"}) {
      MonitorRig rig;
      rig.store.set("Decodeall", decodeAll);
      rig.addAccount(1, "A1").messages = {msg(1), utf8, msg(3)};
      if (bareLf)
        rig.sock.split = [](const std::string& reply) {
          std::string bare;
          for (char c : reply)
            if (c != '\r') bare += c;
          return Lines{bare};
        };
      ASSERT_TRUE(rig.start());
      rig.checkAll();
      const std::string what = std::string(decodeAll) + (bareLf ? " LF" : " CRLF");
      const bool full = *decodeAll == '1';
      EXPECT_EQ(toUtf8(rig.item(1, 2).sender), full ? "René <r@x>" : "=?ISO-8859-1?Q?Ren=E9?= <r@x>") << what;
      EXPECT_EQ(toUtf8(rig.item(1, 2).subject), full ? "会議" : "=?UTF-8?B?5Lya6K2w?=") << what;
      EXPECT_EQ(toUtf8(rig.item(1, 3).subject), "s3") << what;

      rig.mark(1, 2);
      rig.monitor.retrieveMarked();
      rig.settle(70);
      EXPECT_EQ(rig.dialogs.texts(), Lines{}) << what;
      std::string body = toUtf8(rig.item(1, 2).body);
      while (!body.empty() && (body.back() == '\r' || body.back() == '\n')) body.pop_back();
      EXPECT_EQ(body, full ? "本文。" : "5pys5paH44CCCg==\r\n.") << what;

      rig.mark(1, 2);
      const auto before = rig.sock.sent.size();
      rig.monitor.deleteMarked();
      rig.settle(70);
      // The deletion, then the list made again.
      const Lines sent = rig.sentSince(before);
      EXPECT_EQ(Lines(sent.begin(), sent.begin() + std::min<std::size_t>(sent.size(), 5)),
                (Lines{"USER user1", "PASS pw1", "TOP 2 0", "DELE 2", "QUIT"})) << what;
    }
  }
}

}  // namespace
}  // namespace tarvi::fakes
