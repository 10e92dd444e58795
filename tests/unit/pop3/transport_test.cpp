#include "monitor/pop3/transport.h"

#include <gtest/gtest.h>

#include "monitor/pop3/sock_err.h"
#include "tests/fakes/check_rig.h"

namespace tarvi {
namespace {

using fakes::CheckRig;

TEST(SockErrText, TableAndUnknownCodes) {
  const struct {
    int code;
    const char* text;
  } cases[] = {
      {10004, "呼び出しがｷｬﾝｾﾙされました"},
      {10038, "ｿｹｯﾄ以外が指定されました"},
      {10061, "接続が拒否されました"},
      {10093, "WSAStartup関数を呼び出していないか、失敗しました"},
      {11004, "要求された型のﾃﾞｰﾀﾚｺｰﾄﾞがありません"},
      {12345, "(12345)"},
      {0, "(0)"},
      {-1, "(-1)"},
      {10059, "(10059)"},  // a gap in the table
  };
  for (auto& c : cases) EXPECT_EQ(toUtf8(sockErrText(c.code)), c.text) << c.code;
  EXPECT_TRUE(isNoError(sockErrText(0)));
  EXPECT_FALSE(isNoError(sockErrText(10061)));
}

TEST(ReplyStatus, FirstFourCharacters) {
  const struct {
    std::string reply;
    ReplyStatus status;
  } cases[] = {
      {"+OK ready\r\n", ReplyStatus::Accepted},
      {"x+OK\r\n", ReplyStatus::Accepted},
      {"+ok\r\n", ReplyStatus::Accepted},
      {"xx+OK\r\n", ReplyStatus::Other},
      {"\x82\xa0+OK\r\n", ReplyStatus::Accepted},  // one double-byte character first
      {"-ERR bad\r\n", ReplyStatus::Refused},
      {"-err\r\n", ReplyStatus::Refused},
      {"x-ERR\r\n", ReplyStatus::Other},
      {"", ReplyStatus::Other},
      {"+O", ReplyStatus::Other},
  };
  for (auto& c : cases) EXPECT_EQ(replyStatus(c.reply), c.status) << c.reply;
}

TEST(Logon, EmptyHostIsReportedAndOpensNothing) {
  for (const char* host : {"", "   "}) {
    CheckRig rig;
    rig.addAccount(1, "A");
    rig.store.set("Hname1", host);
    rig.start();
    rig.checkOne(1);
    EXPECT_EQ(rig.dialogs.texts(), std::vector<std::string>{"相手先が指定されていません"});
    EXPECT_EQ(rig.sock.opened, 0);
    EXPECT_EQ(rig.sock.startups, rig.sock.cleanups);
    EXPECT_EQ(rig.transport.phase(), kClosed);
  }
}

TEST(Logon, ErrorBoxesOnlyWhenEnabled) {
  CheckRig rig;
  rig.addAccount(1, "A");
  rig.store.set("Hname1", "");
  rig.store.set("Option3value", "1");
  rig.start();
  rig.checkOne(1);
  EXPECT_TRUE(rig.dialogs.boxes.empty());
}

TEST(Logon, UnknownHostConnectsToBroadcastAddress) {
  CheckRig rig;
  rig.addAccount(1, "A");
  rig.store.set("Hname1", "no.such.host");
  rig.sock.connectFailsWith = 10049;
  rig.start();
  rig.checkOne(1);
  EXPECT_EQ(rig.sock.lastAddr, 0xFFFFFFFFu);
  EXPECT_EQ(rig.dialogs.texts(), std::vector<std::string>{"指定されたｱﾄﾞﾚｽは使用できません"});
  EXPECT_EQ(rig.sock.current(), kNoSocket);
  EXPECT_EQ(rig.sock.startups, rig.sock.cleanups);
}

TEST(Logon, ResolvedHostAndPort) {
  CheckRig rig;
  rig.addAccount(1, "A");
  rig.store.set("Hname1", "mail.example");
  rig.sock.hosts["mail.example"] = 0x0100007F;
  rig.start();
  rig.checkOne(1);
  EXPECT_EQ(rig.sock.lastAddr, 0x0100007Fu);
  EXPECT_EQ(rig.sock.lastPort, 1001);
}

TEST(Logon, Failures) {
  const struct {
    const char* name;
    void (*setup)(fakes::FakeSocket&);
    const char* box;
  } cases[] = {
      {"socket", [](fakes::FakeSocket& s) { s.openFails = true; }, "ｿｹｯﾄ生成ができませんでした"},
      {"refused at once", [](fakes::FakeSocket& s) { s.connectFailsWith = 10061; },
       "接続が拒否されました"},
      {"non-blocking", [](fakes::FakeSocket& s) { s.nonBlockingFailsWith = 10022; },
       "関数の呼び出し順番に誤りがあります"},
      {"refused later", [](fakes::FakeSocket& s) { s.connectError = 10061; },
       "接続が拒否されました"},
  };
  for (auto& c : cases) {
    CheckRig rig;
    rig.addAccount(1, "A");
    rig.start();
    rig.sock.greeting = "";  // the failures come before any dialogue
    c.setup(rig.sock);
    rig.checkOne(1);
    EXPECT_EQ(rig.dialogs.texts(), std::vector<std::string>{c.box}) << c.name;
    EXPECT_TRUE(rig.sock.sent.empty()) << c.name;
    EXPECT_EQ(rig.sock.startups, rig.sock.cleanups) << c.name;
    EXPECT_EQ(rig.transport.phase(), kClosed) << c.name;
  }
}

TEST(Transport, SubDisConnWithoutConnectionIsASendFailure) {
  CheckRig rig;
  rig.start();
  rig.transport.subDisConn();
  EXPECT_EQ(rig.dialogs.texts(), std::vector<std::string>{"ｿｹｯﾄ以外が指定されました"});
  EXPECT_EQ(rig.transport.sockState, 6);
  EXPECT_EQ(rig.transport.phase(), kClosed);
}

TEST(Transport, PhaseTableWithNotificationInsideSubSend) {
  CheckRig rig;
  rig.addAccount(1, "A");
  rig.start();
  rig.form.loadadata(1);
  rig.tally.accountIdx = 1;
  std::vector<int> phasesInPump;
  rig.pump.onDoEvents = [&] { phasesInPump.push_back(rig.transport.phase()); };
  rig.sock.greeting = "";  // nothing arrives: the phases alone
  rig.boxes[1001].replies["NOOP"] = "";
  rig.transport.logon(SessionKind::Check);
  // logon pumps twice with the connect requested; the first pump handles
  // the connect notification.
  ASSERT_GE(phasesInPump.size(), 2u);
  EXPECT_EQ(phasesInPump[0], kConnecting);
  EXPECT_EQ(phasesInPump[1], kReading);
  EXPECT_EQ(rig.transport.phase(), kReading);

  // A send: phase 4 while the command goes out; once send has taken it,
  // reading is armed and the pumping inside subSend may handle the reply.
  phasesInPump.clear();
  int seenInsideSend = -1;
  rig.pump.onDoEvents = [&] {
    if (seenInsideSend < 0) seenInsideSend = rig.transport.phase();
  };
  rig.transport.subSend(u"NOOP\r\n");
  EXPECT_EQ(seenInsideSend, kReading);
  EXPECT_EQ(rig.transport.phase(), kReading);
  EXPECT_EQ(rig.sock.sent.back(), "NOOP");
}

TEST(Transport, ReplyArrivingInsideSubSendIsHandledThere) {
  // A fast server answers before subSend has pumped: the reply is read in
  // that pumping, and the dialogue goes on from there.
  CheckRig rig;
  rig.addAccount(1, "A").messages = {fakes::message("a@x", "one"), fakes::message("b@x", "two")};
  rig.start();
  rig.checkOne(1);
  EXPECT_EQ(rig.sock.sent, (std::vector<std::string>{"USER user1", "PASS pw1", "STAT", "TOP 1 5",
                                                      "TOP 2 5", "QUIT"}));
  EXPECT_EQ(toUtf8(rig.mailList.at(1, 2).Subject), "two");
}

TEST(Transport, OneSelectForReadingPerConnection) {
  // Every select is a trip into Windows Sockets; reading stays armed from
  // the connect notification to the close, whatever the number of commands.
  for (int messages : {0, 1, 50}) {
    CheckRig rig;
    auto& box = rig.addAccount(1, "A");
    for (int i = 0; i < messages; ++i) box.messages.push_back(fakes::message("a@x", std::to_string(i)));
    rig.start();
    rig.checkOne(1);
    EXPECT_EQ(rig.sock.sent.back(), "QUIT") << messages;
    EXPECT_EQ(rig.sock.current(), kNoSocket) << messages;  // closed in order
    EXPECT_EQ(rig.sock.selects, 2) << messages;            // connect, then read
  }
}

TEST(Transport, LargeReplyIsReadInOneStep) {
  // 40 KB of headers are waiting when the monitor looks: one recv takes
  // them, not one per 4 KB with a notification each.
  CheckRig rig;
  auto& box = rig.addAccount(1, "A");
  box.messages = {fakes::message("a@x", "big")};
  std::string reply = "+OK\r\nSubject: big\r\n";
  for (int i = 0; i < 1000; ++i) reply += "X-Filler: " + std::string(30, 'f') + "\r\n";
  reply += ".\r\n";
  box.replies["TOP"] = reply;
  rig.start();
  rig.checkOne(1);
  EXPECT_EQ(toUtf8(rig.mailList.at(1, 1).Subject), "big");
  EXPECT_EQ(rig.sock.sent.back(), "QUIT");
  // greeting, USER, PASS, STAT, the TOP reply, QUIT: one recv each.
  EXPECT_EQ(rig.sock.recvs, 6);
}

TEST(Transport, NotificationsOfAnEarlierSocketAreIgnored) {
  CheckRig rig;
  rig.addAccount(1, "A");
  rig.start();
  rig.boxes[1001].replies["STAT"] = "";  // the server stalls after PASS
  rig.checkOne(1);
  const SocketHandle first = rig.sock.current();
  ASSERT_NE(first, kNoSocket);
  rig.checkOne(1);
  EXPECT_EQ(rig.sock.closed, 1);  // the stalled one was closed by the new logon
  const auto sentBefore = rig.sock.sent.size();
  rig.transport.onNotify(first, 0);
  rig.pump.runAll();
  EXPECT_EQ(rig.sock.sent.size(), sentBefore);
}

TEST(Transport, LogMasksPassword) {
  CheckRig rig;
  rig.addAccount(1, "A").messages = {fakes::message("a@x", "hello")};
  rig.store.set("Option8value", "1");
  rig.start();
  rig.checkOne(1);
  const std::string log = toUtf8(rig.transport.logText);
  EXPECT_NE(log.find("USER user1\r\n\r\n"), std::string::npos);
  EXPECT_NE(log.find("PASS ******************************\r\n"), std::string::npos);
  EXPECT_EQ(log.find("pw1"), std::string::npos);
  EXPECT_NE(log.find("STAT\r\n\r\n"), std::string::npos);
  EXPECT_NE(log.find("TOP 1 5\r\n\r\n"), std::string::npos);
  EXPECT_NE(log.find("Subject: hello\r\n"), std::string::npos);
  EXPECT_NE(log.find("QUIT\r\n\r\n"), std::string::npos);

  CheckRig quiet;
  quiet.addAccount(1, "A").messages = {fakes::message("a@x", "hello")};
  quiet.start();
  quiet.checkOne(1);
  EXPECT_TRUE(quiet.transport.logText.empty());
}

TEST(Transport, ReceiveErrorEndsTheSession) {
  CheckRig rig;
  rig.addAccount(1, "A");
  rig.start();
  rig.boxes[1001].replies["STAT"] = "";
  rig.checkOne(1);
  rig.sock.recvFailsWith = 10054;
  rig.sock.serverSends("x");
  rig.pump.runAll();
  EXPECT_EQ(rig.dialogs.texts(), std::vector<std::string>{"ﾘﾓｰﾄﾎｽﾄから切断されました"});
  EXPECT_TRUE(rig.form.timers.enabled(TimerId::logontimer));
  EXPECT_EQ(rig.sock.startups, rig.sock.cleanups);
}

TEST(Transport, EndlessReplyIsCutOff) {
  CheckRig rig;
  auto& box = rig.addAccount(1, "A");
  box.messages = {fakes::message("a@x", "s")};
  box.replies["TOP"] = "+OK\r\n" + std::string(3000, 'x');  // never ends
  rig.start();
  rig.transport.maxReplyBytes = 10000;
  rig.checkOne(1);
  for (int i = 0; i < 5; ++i) {
    rig.sock.serverSends(std::string(3000, 'y'));
    rig.pump.runAll();
  }
  EXPECT_EQ(rig.dialogs.texts(), std::vector<std::string>{toUtf8(kReplyTooLarge)});
  EXPECT_EQ(rig.sock.current(), kNoSocket);
  EXPECT_TRUE(rig.form.timers.enabled(TimerId::logontimer));
  EXPECT_EQ(rig.sock.startups, rig.sock.cleanups);
  // Nothing was sent after the TOP: the connection was already gone.
  EXPECT_EQ(rig.sock.sent.back(), "TOP 1 5");
}

TEST(Transport, NestingStaysShallowWithAFastServer) {
  CheckRig rig;
  auto& box = rig.addAccount(1, "A");
  for (int i = 0; i < 400; ++i) box.messages.push_back(fakes::message("a@x", std::to_string(i)));
  rig.start();
  rig.checkOne(1);
  EXPECT_EQ(rig.sock.sent.size(), 3u + 400 + 1);
  EXPECT_EQ(rig.sock.sent.back(), "QUIT");
  EXPECT_LT(rig.pump.maxDepth, 16);
  EXPECT_EQ(toUtf8(rig.mailList.at(1, 400).Subject), "399");
}

}  // namespace
}  // namespace tarvi
