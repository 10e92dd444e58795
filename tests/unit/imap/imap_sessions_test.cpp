// The IMAP dialogues through the whole monitor on fakes: what a check
// lists and asks, the logon choices, retrieve and the delete choices, and
// servers that misbehave.
#include <gtest/gtest.h>

#include "monitor/imap/imap_sessions.h"
#include "tests/fakes/monitor_rig.h"

namespace tarvi::fakes {
namespace {

using Lines = std::vector<std::string>;

std::string msg(int i) { return message("u" + std::to_string(i) + "@x", "s" + std::to_string(i)); }

struct ImapRig : MonitorRig {
  ImapServer& server;
  explicit ImapRig(int n = 0) : server(addImapAccount(1, "A")) {
    for (int i = 1; i <= n; ++i) server.add(msg(i));
  }
  // A check or a run; the commands it sent, tags dropped.
  Lines sentBy(const std::function<void()>& act) {
    const std::size_t from = sock.sent.size();
    act();
    settle();
    Lines out;
    for (const std::string& l : commands(from)) out.push_back(l.substr(l.find(' ') + 1));
    return out;
  }
  Lines check() { return sentBy([this] { monitor.checkAll(); }); }
  Lines subjects() {
    Lines out;
    const AccountState& r = *state().accounts.find(1);
    for (int m = 1; m <= r.mail.size(); ++m) out.push_back(toUtf8(r.mail.find(m)->subject));
    return out;
  }
  bool announced() { return state().accounts.find(1)->newMail; }
};

const std::string kFetchHeaders =
    " (UID FLAGS RFC822.SIZE BODY.PEEK[HEADER.FIELDS (FROM SUBJECT DATE MESSAGE-ID CONTENT-TYPE)])";

TEST(ImapCheck, ListsOnlyWhatItNeverListed) {
  ImapRig rig(3);
  rig.server.find(2)->flags.insert("\\Seen");
  ASSERT_TRUE(rig.start());
  EXPECT_EQ(rig.check(), (Lines{"CAPABILITY", "LOGIN \"user1\" \"pw1\"", "EXAMINE \"INBOX\"", "UID SEARCH UNSEEN",
                                "UID FETCH 1,3" + kFetchHeaders, "LOGOUT"}));
  EXPECT_EQ(rig.subjects(), (Lines{"s1", "s3"}));
  EXPECT_TRUE(rig.announced());
  EXPECT_EQ(toUtf8(rig.window.caption()), "2通のメールが届いています!");

  // Unchanged: one round trip after the logon, no FETCH.
  EXPECT_EQ(rig.check(), (Lines{"CAPABILITY", "LOGIN \"user1\" \"pw1\"", "EXAMINE \"INBOX\"", "UID SEARCH UNSEEN",
                                "LOGOUT"}));
  EXPECT_FALSE(rig.announced());

  // One read elsewhere, one new: only the new is asked for and announced.
  rig.server.find(1)->flags.insert("\\Seen");
  rig.server.add(msg(4));
  EXPECT_EQ(rig.check()[4], "UID FETCH 4" + kFetchHeaders);
  EXPECT_EQ(rig.subjects(), (Lines{"s3", "s4"}));
  EXPECT_TRUE(rig.announced());

  // A rebuilt folder: listed afresh, none of it news.
  rig.server.uidValidity = 8;
  rig.check();
  EXPECT_EQ(rig.subjects(), (Lines{"s3", "s4"}));
  EXPECT_FALSE(rig.announced());
}

TEST(ImapCheck, KeptAcrossRestartsAndReadInAnyPieces) {
  for (bool bytewise : {false, true}) {
    ImapRig rig(2);
    rig.store.set("Unseenonly1", "0");
    rig.server.find(1)->flags.insert("\\Seen");
    if (bytewise) rig.sock.split = fakes::bytewise;
    ASSERT_TRUE(rig.start());
    rig.check();
    EXPECT_EQ(rig.subjects(), (Lines{"s1", "s2"})) << bytewise;

    // A new monitor on the same list store: nothing is fetched again.
    ImapRig again(0);
    again.store.set("Unseenonly1", "0");
    again.server = rig.server;
    again.lists = rig.lists;
    ASSERT_TRUE(again.start());
    const Lines sent = again.check();
    EXPECT_EQ(again.server.fetches, rig.server.fetches) << bytewise;
    EXPECT_EQ(again.subjects(), (Lines{"s1", "s2"})) << bytewise;
    EXPECT_EQ(sent.back(), "LOGOUT");
  }
}

TEST(ImapLogon, ChoosesWhatTheServerAllows) {
  const struct {
    const char* what;
    std::string capabilities, password;
    std::map<std::string, std::string> replies;
    Lines sent;
    std::string error;
  } cases[] = {
      {"login", "IMAP4rev1", "pw1", {}, {"CAPABILITY", "LOGIN \"user1\" \"pw1\""}, ""},
      {"plain with initial response", "IMAP4rev1 LOGINDISABLED AUTH=PLAIN SASL-IR", "pw1",
       {{"AUTHENTICATE", "A2 NO no\r\n"}}, {"CAPABILITY", "AUTHENTICATE PLAIN AHVzZXIxAHB3MQ==", "LOGOUT"},
       "ﾛｸﾞｲﾝできませんでした\r\nno"},
      {"plain after the continuation", "IMAP4rev1 AUTH=PLAIN", "pwあ", {},
       {"CAPABILITY", "AUTHENTICATE PLAIN", "AHVzZXIxAHB3gqA=", "EXAMINE \"INBOX\""}, ""},
      {"login disabled, no other way", "IMAP4rev1 LOGINDISABLED", "pw1", {}, {"CAPABILITY", "LOGOUT"},
       toUtf8(kImapNoLogon)},
      {"refused", "IMAP4rev1", "bad", {}, {"CAPABILITY", "LOGIN \"user1\" \"bad\"", "LOGOUT"},
       "ﾛｸﾞｲﾝできませんでした\r\nAuthentication failed."},
  };
  for (const auto& c : cases) {
    ImapRig rig;
    rig.server.capabilities = c.capabilities;
    rig.server.replies = c.replies;
    rig.store.values[u"Passw1"] = scramblePass(fromUtf8(c.password));
    rig.store.set("Option8value", "1");  // the session log is kept
    ASSERT_TRUE(rig.start());
    Lines sent = rig.check();
    // Neither the password nor the logon's response reaches the log.
    const std::string log = toUtf8(rig.monitor.checker().sessionLog());
    for (const std::string& secret : {c.password, std::string("AHVzZXIx")})
      EXPECT_EQ(log.find(secret), std::string::npos) << c.what << ": " << log;
    if (c.error.empty() && sent.size() > c.sent.size()) sent.resize(c.sent.size());
    EXPECT_EQ(sent, c.sent) << c.what;
    EXPECT_EQ(rig.dialogs.texts(), c.error.empty() ? Lines{} : Lines{c.error}) << c.what;
  }
}

TEST(ImapRuns, RetrievePeeksAndDeleteTakesOnlyTheMarked) {
  const struct {
    const char* what;
    std::string capabilities;
    Lines removal;  // after SELECT and the check of the UIDs
    std::size_t left, trashed;
    bool toldFlaggedOnly;
  } cases[] = {
      {"move to Trash", "IMAP4rev1 MOVE UIDPLUS", {"UID MOVE 2 \"Trash\""}, 2, 1, false},
      {"expunge by UID", "IMAP4rev1 UIDPLUS", {"UID STORE 2 +FLAGS.SILENT (\\Deleted)", "UID EXPUNGE 2"}, 2, 0, false},
      {"flag only", "IMAP4rev1", {"UID STORE 2 +FLAGS.SILENT (\\Deleted)"}, 3, 0, true},
  };
  for (const auto& c : cases) {
    ImapRig rig(3);
    rig.server.capabilities = c.capabilities;
    rig.store.set("Unseenonly1", "0");
    ASSERT_TRUE(rig.start());
    rig.check();
    // Another client flagged message 3; only message 2 is marked here.
    rig.server.find(3)->flags.insert("\\Deleted");
    rig.mark(1, 2);
    const Lines fetched = rig.sentBy([&] { rig.monitor.checker().retrieveMarked(); });
    EXPECT_EQ(fetched[3], "UID FETCH 2 (UID BODY.PEEK[])") << c.what;
    EXPECT_NE(toUtf8(rig.item(1, 2).body).find("body line"), std::string::npos) << c.what;
    rig.mark(1, 2);
    rig.dialogs.answers.push_back(MsgAnswer::Yes);
    Lines sent = rig.sentBy([&] { rig.monitor.checker().deleteMarked(); });
    const auto select = std::find(sent.begin(), sent.end(), "SELECT \"INBOX\"");
    ASSERT_NE(select, sent.end()) << c.what;
    EXPECT_EQ(*(select + 1), "UID SEARCH UID 2") << c.what;
    EXPECT_EQ(Lines(select + 2, select + 2 + static_cast<long>(c.removal.size())), c.removal) << c.what;
    EXPECT_EQ(rig.server.messages.size(), c.left) << c.what;
    EXPECT_NE(rig.server.find(3), nullptr) << c.what;
    EXPECT_EQ(rig.server.trash.size(), c.trashed) << c.what;
    EXPECT_EQ(!rig.dialogs.texts().empty() && rig.dialogs.texts().back() == toUtf8(kImapDeletedOnly),
              c.toldFlaggedOnly)
        << c.what;
  }
}

TEST(ImapRuns, ARebuiltFolderDeletesNothing) {
  ImapRig rig(2);
  ASSERT_TRUE(rig.start());
  rig.check();
  rig.server.uidValidity = 9;
  rig.mark(1, 1);
  rig.dialogs.answers.push_back(MsgAnswer::Yes);
  const Lines sent = rig.sentBy([&] { rig.monitor.checker().deleteMarked(); });
  for (const std::string& l : sent) EXPECT_EQ(l.find("STORE"), std::string::npos) << l;
  EXPECT_EQ(rig.server.messages.size(), 2u);
  EXPECT_NE(rig.dialogs.texts().back().find("削除しませんでした"), std::string::npos);
}

TEST(ImapCheck, HostileServersGetAClearError) {
  const struct {
    const char* what;
    std::map<std::string, std::string> replies;
    std::string error;
  } cases[] = {
      {"bye after the logon", {{"EXAMINE", "* BYE going away\r\n"}}, "ｻｰﾊﾞが接続を終了しました\r\ngoing away"},
      {"an answer to another tag", {{"EXAMINE", "A9 OK what\r\n"}}, toUtf8(kImapBadResponse)},
      {"a literal of gigabytes", {{"UID SEARCH", "* 1 FETCH (BODY[] {4000000000}\r\n"}}, toUtf8(kReplyTooLarge)},
      {"no such folder", {{"EXAMINE", "A3 NO Mailbox doesn't exist\r\n"}}, "ﾌｫﾙﾀﾞを開けませんでした\r\nMailbox doesn't exist"},
      {"garbage", {{"EXAMINE", "\x01\x02 nonsense(\r\n"}}, toUtf8(kImapBadResponse)},
  };
  for (const auto& c : cases) {
    ImapRig rig(2);
    rig.server.replies = c.replies;
    ASSERT_TRUE(rig.start());
    rig.check();
    EXPECT_EQ(rig.dialogs.texts(), Lines{c.error}) << c.what;
    EXPECT_EQ(rig.server.fetches, 0) << c.what;
  }
  // Answers about UIDs not asked for change nothing.
  ImapRig rig(1);
  rig.server.replies["UID FETCH"] =
      "* 5 FETCH (UID 99 BODY[HEADER.FIELDS (FROM)] {12}\r\nFrom: evil\r\n)\r\n"
      "* 1 FETCH (UID 1 FLAGS () BODY[HEADER.FIELDS (SUBJECT)] {13}\r\nSubject: s1\r\n)\r\nA5 OK done\r\n";
  ASSERT_TRUE(rig.start());
  rig.check();
  EXPECT_EQ(rig.subjects(), Lines{"s1"});
}

}  // namespace
}  // namespace tarvi::fakes
