#include "monitor/net/transport.h"

#include <gtest/gtest.h>

#include "monitor/net/address_literal.h"
#include "monitor/net/sock_err.h"
#include "tests/unit/pop3/session_rig.h"

namespace tarvi::fakes {
namespace {

TEST(SockErrText, TableAndUnknownCodes) {
  const std::pair<int, const char*> cases[] = {
      {10004, "呼び出しがｷｬﾝｾﾙされました"}, {10038, "ｿｹｯﾄ以外が指定されました"},
      {10061, "接続が拒否されました"}, {10093, "WSAStartup関数を呼び出していないか、失敗しました"},
      {11004, "要求された型のﾃﾞｰﾀﾚｺｰﾄﾞがありません"}, {12345, "(12345)"}, {0, "(0)"}, {-1, "(-1)"},
      {10059, "(10059)"},  // a gap in the table
  };
  for (auto& [code, text] : cases) EXPECT_EQ(toUtf8(sockErrText(code)), text) << code;
  EXPECT_TRUE(isNoError(sockErrText(0)));
  EXPECT_TRUE(isNoError(u""));
  EXPECT_FALSE(isNoError(sockErrText(10061)));
}

TEST(ReplyStatus, FirstFourCharacters) {
  const std::pair<std::string, ReplyStatus> cases[] = {
      {"+OK ready\r\n", ReplyStatus::Accepted}, {"x+OK\r\n", ReplyStatus::Accepted},
      {"+ok\r\n", ReplyStatus::Accepted},       {"xx+OK\r\n", ReplyStatus::Other},
      {"\x82\xa0+OK\r\n", ReplyStatus::Accepted},  // one double-byte character first
      {"-ERR bad\r\n", ReplyStatus::Refused},   {"-err\r\n", ReplyStatus::Refused},
      {"x-ERR\r\n", ReplyStatus::Other},        {"", ReplyStatus::Other}, {"+O", ReplyStatus::Other},
  };
  for (auto& [reply, status] : cases) EXPECT_EQ(replyStatus(reply), status) << reply;
}

TEST(Logon, Failures) {
  const struct {
    const char* host;
    void (*setup)(FakeSocket&);
    const char* error;
    int opened;
    int failures;  // told as a failed session: all but a connect that fails later
    std::uint32_t addr;
  } cases[] = {
      {"", [](FakeSocket&) {}, "相手先が指定されていません", 0, 1, 0},
      {"   ", [](FakeSocket&) {}, "相手先が指定されていません", 0, 1, 0},
      {"127.0.0.1", [](FakeSocket& s) { s.openFails = true; }, "ｿｹｯﾄ生成ができませんでした", 0, 1, 0},
      {"127.0.0.1", [](FakeSocket& s) { s.connectFailsWith = 10061; }, "接続が拒否されました", 1, 1, 0x0100007F},
      {"no.such", [](FakeSocket&) {}, "ﾎｽﾄが見つかりません", 0, 1, 0},
      {"127.0.0.1", [](FakeSocket& s) { s.startupFailsWith = 10091; },
       "ﾈｯﾄﾜｰｸｻﾌﾞｼｽﾃﾑに通信するための準備ができていません", 0, 1, 0},
      {"mail.example", [](FakeSocket& s) { s.nonBlockingFailsWith = 10022; },
       "関数の呼び出し順番に誤りがあります", 1, 1, 0x0200007F},
      {"127.0.0.1", [](FakeSocket& s) { s.connectError = 10061; }, "接続が拒否されました", 1, 0, 0x0100007F},
  };
  for (auto& c : cases) {
    SessionRig rig;
    rig.sock.hosts["mail.example"] = 0x0200007F;
    rig.account.host = fromUtf8(c.host);
    rig.sock.greeting = "";  // the failures come before any dialogue
    c.setup(rig.sock);
    rig.check();
    const std::string what = c.host + std::string(" ") + c.error;
    EXPECT_EQ(rig.errors, Lines{c.error}) << what;
    EXPECT_EQ(rig.sock.opened, c.opened) << what;
    EXPECT_EQ(rig.ended, 1) << what;  // every failure hands on at once, with or without a connection
    EXPECT_EQ(rig.failures, c.failures) << what;
    if (c.opened) {
      EXPECT_EQ(rig.sock.lastAddr, c.addr) << what;
      EXPECT_EQ(rig.sock.lastPort, 1001) << what;
    }
    EXPECT_TRUE(rig.sock.sent.empty()) << what;
    EXPECT_EQ(rig.transport.current()->phase(), Phase::Closed) << what;
    expectAllClosed(rig.sock, what);
  }
}

TEST(Logon, TheAddressesOfAHostAreTriedInTurn) {
  const SocketAddress v6 = [] {
    SocketAddress a;
    a.family = SocketAddress::Family::V6;
    a.bytes[15] = 2;
    return a;
  }();
  const struct {
    const char* host;
    std::vector<std::string> refusing;
    Lines tried, errors;
  } cases[] = {
      {"[::1]", {}, {"[0:0:0:0:0:0:0:1]"}, {}},
      {"dual.example", {}, {"[0:0:0:0:0:0:0:2]"}, {}},
      // IPv6 that leads nowhere, then IPv4.
      {"dual.example", {"[0:0:0:0:0:0:0:2]"}, {"[0:0:0:0:0:0:0:2]", "127.0.0.2"}, {}},
      {"dual.example", {"[0:0:0:0:0:0:0:2]", "127.0.0.2"}, {"[0:0:0:0:0:0:0:2]", "127.0.0.2"}, {"接続が拒否されました"}},
  };
  for (const auto& c : cases) {
    SessionRig rig;
    rig.sock.addresses["dual.example"] = {v6, FakeSocket::v4(0x0200007F, 0)};
    for (const auto& r : c.refusing) rig.sock.refusing[r] = 10061;
    rig.account.host = fromUtf8(c.host);
    rig.check();
    const std::string what = c.host + std::string(" ") + std::to_string(c.refusing.size());
    EXPECT_EQ(rig.sock.connectedTo, c.tried) << what;
    EXPECT_EQ(rig.errors, c.errors) << what;
    EXPECT_EQ(rig.sock.lookedUp, c.host[0] == 'd' ? Lines{c.host} : Lines{}) << what;  // a literal is not looked up
    EXPECT_EQ(rig.sock.sent.empty(), !c.errors.empty()) << what;
    EXPECT_EQ(rig.ended, 1) << what;
  }
}

TEST(Logon, AddressLiterals) {
  const struct {
    const char* text;
    const char* address;  // as the fake socket writes it; "" for none
  } cases[] = {
      {"192.0.2.1", "192.0.2.1"},   {"::1", "[0:0:0:0:0:0:0:1]"},
      {"[::1]", "[0:0:0:0:0:0:0:1]"}, {"2001:db8::8:1", "[2001:db8:0:0:0:0:8:1]"},
      {"::ffff:192.0.2.1", "[0:0:0:0:0:ffff:c000:201]"}, {"1:2:3:4:5:6:7:8", "[1:2:3:4:5:6:7:8]"},
      {"256.0.0.1", ""}, {"1.2.3", ""}, {"1.2.3.4.", ""}, {"1.2.3.4 ", ""}, {"mail.example.jp", ""},
      {"1::2::3", ""}, {"1:2:3:4:5:6:7:8:9", ""}, {"12345::", ""}, {"fe80::1%eth0", ""}, {"[::1", ""}, {":", ""},
      {"1:", ""}, {"", ""},
  };
  for (const auto& c : cases) {
    const auto a = parseAddressLiteral(c.text, 110);
    EXPECT_EQ(a ? FakeSocket::addressText(*a) : "", c.address) << c.text;
  }
}

TEST(Transport, PhasesAndAReplyHandledInsideTheSend) {
  SessionRig rig;
  std::vector<Phase> inPump;
  rig.pump.onDoEvents = [&] { inPump.push_back(rig.transport.current()->phase()); };
  rig.sock.greeting = "";  // nothing arrives: the phases alone
  rig.box.replies["NOOP"] = "";
  rig.check();
  // The logon pumps twice; the first pump handles the connect notification.
  ASSERT_GE(inPump.size(), 2u);
  EXPECT_EQ(inPump[0], Phase::Connecting);
  EXPECT_EQ(inPump[1], Phase::Reading);
  // Reading is armed once send has taken a command, so that the pumping
  // inside the send may handle the reply.
  inPump.clear();
  rig.transport.current()->send(u"NOOP\r\n");
  EXPECT_EQ(inPump, std::vector<Phase>{Phase::Reading});
  EXPECT_EQ(rig.sock.sent.back(), "NOOP");
}

TEST(Transport, OneSelectAndShallowNestingWhateverTheNumberOfCommands) {
  // Every select is a trip into Windows Sockets: reading stays armed from
  // the connect notification to the close. A fast server answers inside
  // the pumping of each send; the stack must not grow with every reply.
  for (int messages : {0, 1, 50, 400}) {
    SessionRig rig;
    rig.addMessages(messages);
    rig.check();
    const std::string what = std::to_string(messages);
    EXPECT_EQ(rig.sock.sent, checkDialogue(messages)) << what;
    EXPECT_EQ(rig.sock.selects, 2) << what;  // connect, then read
    EXPECT_EQ(rig.sock.unhooks, 1) << what;  // closed in order
    EXPECT_EQ(rig.ended, 1) << what;
    EXPECT_LT(rig.pump.maxDepth, 16) << what;
    if (messages) {
      EXPECT_EQ(rig.subject(messages), "s" + what);
    }
    expectAllClosed(rig.sock, what);
  }
}

TEST(Transport, LargeReplyIsReadInOneStep) {
  // 40 KB of headers are waiting when the monitor looks: one recv takes
  // them, not one per 4 KB with a notification each.
  SessionRig rig;
  rig.addMessages(1);
  std::string reply = "+OK\r\nSubject: big\r\n";
  for (int i = 0; i < 1000; ++i) reply += "X-Filler: " + std::string(30, 'f') + "\r\n";
  rig.box.replies["TOP"] = reply + ".\r\n";
  rig.check();
  EXPECT_EQ(rig.subject(1), "big");
  EXPECT_EQ(rig.sock.recvs, 6);  // greeting, USER, PASS, STAT, the TOP reply, QUIT
}

TEST(Transport, NotificationOfAnotherConnectionIsIgnored) {
  // Two stalled connections in turn. Where the system gave the second the
  // handle of the first, only the tag tells their notifications apart.
  const struct {
    const char* what;
    bool reuseHandles, oldHandle, oldTag;
  } cases[] = {{"one handle, old tag", true, true, true},
               {"old handle, current tag", false, true, false},
               {"old handle, old tag", false, true, true},
               {"current handle, old tag", false, false, true}};
  for (auto& c : cases) {
    const std::string what = c.what;
    SessionRig rig;
    rig.sock.reuseHandles = c.reuseHandles;
    rig.box.replies["STAT"] = "";  // the server stalls after PASS
    rig.check();
    const SocketHandle firstSock = rig.sock.current();
    const std::uint32_t firstTag = rig.sock.lastTag;
    rig.check();
    ASSERT_EQ(rig.sock.closed, 1) << what;  // the stalled one, closed by the new logon
    ASSERT_EQ(rig.sock.current() == firstSock, c.reuseHandles) << what;
    const int activities = rig.activities, recvs = rig.sock.recvs;
    const SocketHandle sock = c.oldHandle ? firstSock : rig.sock.current();
    rig.transport.onNotify(sock, c.oldTag ? firstTag : rig.sock.lastTag);
    EXPECT_EQ(rig.activities, activities) << what;
    EXPECT_EQ(rig.sock.recvs, recvs) << what;
    // The current connection's own notification is taken.
    rig.transport.onNotify(rig.sock.current(), rig.sock.lastTag);
    EXPECT_EQ(rig.activities, activities + 1) << what;
  }
}

TEST(Transport, LogMasksThePasswordAndIsKeptOnlyWhenAskedFor) {
  for (bool keep : {true, false}) {
    MonitorRig rig;
    rig.addAccount(1, "A").messages = {message("a@x", "hello")};
    rig.store.set("Option8value", keep ? "1" : "0");
    ASSERT_TRUE(rig.start());
    rig.checkAll();
    const std::string log = toUtf8(rig.monitor.checker().sessionLog());
    EXPECT_EQ(log.empty(), !keep);
    if (!keep) continue;
    for (const char* part : {"USER user1\r\n\r\n", "PASS ******************************\r\n", "STAT\r\n\r\n",
                             "TOP 1 5\r\n\r\n", "Subject: hello\r\n", "QUIT\r\n\r\n"})
      EXPECT_NE(log.find(part), std::string::npos) << part;
    EXPECT_EQ(log.find("pw1"), std::string::npos);
  }
}

// However the connection ends under the session, the session ends then,
// not at its time limit (the rig has none: what is not over after the pump
// has run never would be), with one message and nothing sent after.
TEST(Transport, ConnectionLostUnderTheSessionEndsItAtOnce) {
  const std::string unfinishedTop = "+OK\r\nFrom: a@x\r\n";
  struct Case {
    const char* name;
    std::map<std::string, std::string> replies;
    std::function<void(SessionRig&)> lose;
    Lines errors;
    std::string lastSent;
  } cases[] = {
      {"recv fails", {{"STAT", ""}}, [](SessionRig& r) {
         r.sock.recvFailsWith = 10054;
         r.sock.serverSends(std::string(3000, 'y'));
       }, {"ﾘﾓｰﾄﾎｽﾄから切断されました"}, "STAT"},
      {"reply never ends", {{"TOP", "+OK\r\n" + std::string(3000, 'x')}}, [](SessionRig& r) {
         for (int i = 0; i < 5; ++i) r.sock.serverSends(std::string(3000, 'y'));
       }, {toUtf8(kReplyTooLarge)}, "TOP 1 5"},
      {"closed in the middle of a reply", {{"TOP", unfinishedTop}}, [](SessionRig& r) { r.sock.serverCloses(); },
       {toUtf8(kClosedByServer)}, "TOP 1 5"},
      {"reset in the middle of a reply", {{"TOP", unfinishedTop}}, [](SessionRig& r) { r.sock.serverResets(10054); },
       {"ﾘﾓｰﾄﾎｽﾄから切断されました"}, "TOP 1 5"},
      {"closed instead of answering QUIT", {{"QUIT", ""}}, [](SessionRig& r) { r.sock.serverCloses(); }, {}, "QUIT"},
  };
  for (const auto& c : cases) {
    SessionRig rig;
    rig.addMessages(1);
    for (const auto& [command, reply] : c.replies) rig.box.replies[command] = reply;
    rig.transport.maxReplyBytes = 10000;
    rig.check();
    EXPECT_EQ(rig.ended, 0) << c.name;
    c.lose(rig);
    rig.pump.runAll();
    EXPECT_EQ(rig.errors, c.errors) << c.name;
    EXPECT_EQ(rig.ended, 1) << c.name;
    EXPECT_EQ(rig.failures, c.errors.empty() ? 0 : 1) << c.name;
    EXPECT_EQ(rig.sock.sent.back(), c.lastSent) << c.name;
    expectAllClosed(rig.sock, c.name);
  }
}

}  // namespace
}  // namespace tarvi::fakes
