#include "settings/connection_test.h"

#include <gtest/gtest.h>

#include "common/cp932.h"
#include "common/tls_policy.h"
#include "tests/fakes/fake_link.h"
#include "tests/fakes/fake_tls.h"
#include "tests/unit/pop3/session_rig.h"

namespace tarvi::settings {
namespace {

using fakes::FakeLink;
using fakes::FakeTlsFactory;
using Commands = std::vector<std::string>;
using Status = TestLink::Status;

ConnectionTestInput input(int mode) {
  ConnectionTestInput in;
  in.host = u"pop.example.jp";
  in.port = mode == kImplicitTls ? 995 : 110;
  in.tlsMode = mode;
  in.user = u"taro";
  in.password = u"秘密";
  return in;
}

struct TestRun {
  FakeLink link;
  FakeTlsFactory tls;
  ConnectionTestResult result;
  Text report;

  explicit TestRun(int mode) { link.implicitTls = mode == kImplicitTls; }
  void go(const ConnectionTestInput& in) {
    result = runConnectionTest(in, link, tls);
    report = connectionTestReport(in, result);
  }
  bool reportHas(const Text& s) const { return report.find(s) != Text::npos; }
};

// The scripted IMAP server for `r`, and an IMAP account's input for it.
ConnectionTestInput imapInput(TestRun& r, int mode) {
  r.link.greeting = "* OK IMAP ready";
  r.link.imap.emplace();
  ConnectionTestInput in = input(mode);
  in.protocol = kImap;
  in.user = u"joe";
  in.password = u"secret";
  return in;
}

TEST(ConnectionTest, EachModeLogsOnAndCountsWhateverTheCuts) {
  const std::string sjisPass = "PASS \x94\xe9\x96\xa7";  // 秘密 as the server gets it
  for (int mode : {kPlain, kImplicitTls, kStartTls}) {
    for (std::size_t chunk : {1, 2, 5, 99, 1 << 20}) {
      TestRun r(mode);
      r.link.chunk = chunk;
      r.link.replies["STAT"] = "+OK 3 4096";
      r.go(input(mode));
      SCOPED_TRACE(::testing::Message() << "mode " << mode << " chunk " << chunk);
      Commands want = {"USER taro", sjisPass, "STAT", "QUIT"};
      if (mode == kStartTls) want.insert(want.begin(), "STLS");
      EXPECT_EQ(r.link.commands, want);
      EXPECT_EQ(r.link.host, "pop.example.jp");
      EXPECT_TRUE(r.result.loggedOn);
      EXPECT_EQ(r.result.messages, 3);
      EXPECT_EQ(r.result.failure, u"");
      EXPECT_TRUE(r.link.closed);
      EXPECT_EQ(r.result.tlsUsed, mode != kPlain);
      EXPECT_EQ(r.tls.made.size(), mode == kPlain ? 0u : 1u);
      if (mode != kPlain) {
        EXPECT_EQ(r.tls.hosts, Commands{"pop.example.jp"});
        EXPECT_EQ(r.tls.shutDowns, 1);  // close_notify before the close
        EXPECT_TRUE(r.reportHas(u"暗号化: TLS 1.2"));
        EXPECT_TRUE(r.reportHas(u"証明書: 問題ありません"));
      } else {
        EXPECT_TRUE(r.reportHas(u"暗号化: なし"));
      }
      EXPECT_TRUE(r.reportHas(u"ﾛｸﾞｵﾝ: 成功\r\nﾒｯｾｰｼﾞ数: 3"));
    }
  }
}

TEST(ConnectionTest, StopsWhereTheServerOrTheLinkSaysNo) {
  struct Case {
    const char* name;
    int mode;
    std::string word, reply, silentAt;
    Status connect;
    Commands commands;
    const char16_t* shown;  // in the report
    bool logonRefused;
  } cases[] = {
      {"wrong password", kImplicitTls, "PASS", "-ERR [AUTH] Authentication failed.", "", Status::Ok,
       {"USER taro", "PASS \x94\xe9\x96\xa7", "QUIT"}, u"ﾛｸﾞｵﾝ: 拒否されました: -ERR [AUTH] Authentication failed.", true},
      {"unknown user", kPlain, "USER", "-ERR no such user", "", Status::Ok, {"USER taro", "QUIT"},
       u"-ERR no such user", true},
      {"STLS refused", kStartTls, "STLS", "-ERR not now", "", Status::Ok, {"STLS", "QUIT"},
       u"ﾊﾟｽﾜｰﾄﾞは送っていません", false},
      {"silent after PASS", kStartTls, "", "", "PASS", Status::Ok, {"STLS", "USER taro", "PASS \x94\xe9\x96\xa7"},
       u"時間内に応答がありませんでした", false},
      {"STAT refused", kPlain, "STAT", "-ERR locked", "", Status::Ok, {"USER taro", "PASS \x94\xe9\x96\xa7", "STAT", "QUIT"},
       u"ｻｰﾊﾞの返事: -ERR locked", false},
      {"host not found", kPlain, "", "", "", Status::NotFound, {}, u"接続: できませんでした (pop.example.jp:110)\r\nﾎｽﾄが見つかりません", false},
      {"refused", kImplicitTls, "", "", "", Status::Refused, {}, u"接続を拒否されました", false},
      {"connect timed out", kPlain, "", "", "", Status::TimedOut, {}, u"時間内に応答がありませんでした", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestRun r(c.mode);
    if (!c.word.empty()) r.link.replies[c.word] = c.reply;
    r.link.silentAt = c.silentAt;
    r.link.connectStatus = c.connect;
    r.go(input(c.mode));
    EXPECT_EQ(r.link.commands, c.commands);
    EXPECT_EQ(r.result.loggedOn, c.word == "STAT");
    EXPECT_FALSE(r.result.messages);
    EXPECT_EQ(r.result.logonRefused, c.logonRefused);
    EXPECT_TRUE(r.reportHas(c.shown)) << toUtf8(r.report);
    EXPECT_TRUE(r.link.closed);
  }
  TestRun refused(kStartTls);
  refused.link.replies["STLS"] = "-ERR no";
  refused.go(input(kStartTls));
  EXPECT_TRUE(refused.tls.made.empty());  // never fell back, never started TLS
  // A token account: the connection and its TLS are tested, no logon is
  // tried with a password it does not have.
  TestRun token(kStartTls);
  auto in = input(kStartTls);
  in.tokenSignIn = true;
  token.go(in);
  EXPECT_EQ(token.link.commands, (Commands{"STLS", "QUIT"}));
  EXPECT_TRUE(token.reportHas(u"ﾄｰｸﾝでｻｲﾝｲﾝするｱｶｳﾝﾄのため試していません")) << toUtf8(token.report);
}

TEST(ConnectionTest, CertificateProblemSendsNoUserUnlessPinned) {
  CertificateReport bad = FakeTlsFactory().nextCert;
  bad.untrusted = true;
  bad.nameMismatch = true;
  for (int protocol : {kPop3, kImap})
  for (int mode : {kImplicitTls, kStartTls}) {
    SCOPED_TRACE(::testing::Message() << "protocol " << protocol << " mode " << mode);
    const Commands startTls = protocol == kPop3 ? Commands{"STLS"} : Commands{"a1 CAPABILITY", "a2 STARTTLS"};
    TestRun r(mode);
    r.tls.nextCert = bad;
    r.go(protocol == kPop3 ? input(mode) : imapInput(r, mode));
    EXPECT_EQ(r.link.commands, mode == kStartTls ? startTls : Commands{});
    EXPECT_TRUE(r.result.certificateRefused());
    EXPECT_EQ(r.result.failure, certificateRefusedMessage(bad));
    for (const Text& s : {Text(u"発行先: CN=localhost"), Text(u"発行者: CN=Test CA"),
                          Text(u"有効期間: 2026/01/01 00:00 - 2027/01/01 00:00"), u"SHA-256: " + ascii(bad.sha256),
                          certificateProblems(bad)})
      EXPECT_TRUE(r.reportHas(s)) << toUtf8(s);

    // The same certificate once the user accepted it.
    TestRun pinned(mode);
    pinned.tls.nextCert = bad;
    ConnectionTestInput in = protocol == kPop3 ? input(mode) : imapInput(pinned, mode);
    in.pin = bad.sha256;
    pinned.go(in);
    EXPECT_TRUE(pinned.result.loggedOn);
    EXPECT_TRUE(pinned.result.pinned);
    EXPECT_TRUE(pinned.reportHas(u"証明書: 受け入れ済みの証明書です"));
  }
}

// An engine whose handshake takes one more round, as real ones do: it must
// send its last flight while it still needs more (and gets the greeting
// only once that flight was sent).
class TwoRoundEngine : public fakes::FakeTlsEngine {
 public:
  TlsStatus handshake(std::string& in, std::string& out) override {
    if (finished) return TlsStatus::Done;  // what follows stays in `in`
    const TlsStatus s = FakeTlsEngine::handshake(in, out);
    return s == TlsStatus::Done ? TlsStatus::NeedMore : s;
  }
};

TEST(ConnectionTest, HandshakeSendsBeforeItWaits) {
  struct Factory : TlsFactory {
    std::unique_ptr<TlsEngine> create() override { return std::make_unique<TwoRoundEngine>(); }
  } tls;
  FakeLink link;
  link.implicitTls = true;
  link.replies["STAT"] = "+OK 2 10";
  const ConnectionTestResult r = runConnectionTest(input(kImplicitTls), link, tls);
  EXPECT_EQ(r.failure, u"");
  EXPECT_EQ(r.messages, 2);
}

TEST(ConnectionTest, BrokenTlsStopsBeforeTheUserName) {
  // The server answers the hello with garbage instead of a record.
  struct GarbageLink : FakeLink {
    Status receive(std::string& into) override {
      into += "\x15garbage";
      return Status::Ok;
    }
  } link;
  FakeTlsFactory tls;
  const ConnectionTestResult r = runConnectionTest(input(kImplicitTls), link, tls);
  EXPECT_TRUE(link.commands.empty());
  EXPECT_FALSE(r.cert);
  EXPECT_EQ(r.failure, u"bad handshake record");
  EXPECT_TRUE(connectionTestReport(input(kImplicitTls), r).find(u"暗号化: できませんでした") != Text::npos);
}

TEST(ConnectionTest, ChecksTheHostNameTheMonitorChecks) {
  // A host name beyond ASCII: the certificate is judged against the same
  // name in both programs, whatever the bytes of the name lookup.
  const Text host = u"ﾒｰﾙ.例え.jp";
  TestRun r(kImplicitTls);
  ConnectionTestInput in = input(kImplicitTls);
  in.host = host;
  r.go(in);
  fakes::SessionRig monitor;
  monitor.account.host = host;
  monitor.account.tlsMode = kImplicitTls;
  monitor.box.implicitTls = true;
  monitor.sock.hosts[cp932::encode(host)] = 0x0100007F;
  monitor.check();
  EXPECT_EQ(monitor.sock.tlsHosts, r.tls.hosts);
  EXPECT_EQ(r.tls.hosts, std::vector<std::string>{toUtf8(host)});
}

TEST(ConnectionTest, ImapLogsOnAsTheServerAllowsAndTellsWhatItOffers) {
  struct Case {
    const char* name;
    int mode;
    std::string capabilities, password, command, reply;  // reply: of the server to `command`
    Commands commands;
    const char16_t* shown;
    bool loggedOn, logonRefused;
  } cases[] = {
      {"LOGIN", kPlain, "IMAP4rev1 IDLE UIDPLUS", "secret", "", "",
       {"a1 CAPABILITY", "a2 LOGIN \"joe\" \"secret\"", "a3 EXAMINE \"INBOX\"", "a4 LOGOUT"},
       u"ﾛｸﾞｵﾝ: 成功\r\nIDLE: あり / MOVE: なし / UIDPLUS: あり\r\nﾌｫﾙﾀﾞ: INBOX (開けました)", true, false},
      {"no such folder", kPlain, "IMAP4rev1", "secret", "EXAMINE", "a3 NO Mailbox doesn't exist\r\n",
       {"a1 CAPABILITY", "a2 LOGIN \"joe\" \"secret\"", "a3 EXAMINE \"INBOX\"", "a4 LOGOUT"},
       u"ﾌｫﾙﾀﾞ: INBOX (開けませんでした)", true, false},
      {"LOGINDISABLED, AUTH=PLAIN", kStartTls, "LOGINDISABLED AUTH=PLAIN MOVE", "secret", "", "",
       {"a1 CAPABILITY", "a2 STARTTLS", "a3 CAPABILITY", "a4 AUTHENTICATE PLAIN", "AGpvZQBzZWNyZXQ=", "a5 EXAMINE \"INBOX\"", "a6 LOGOUT"}, u"IDLE: なし / MOVE: あり / UIDPLUS: なし", true,
       false},
      {"8-bit password", kImplicitTls, "IMAP4rev1 AUTH=PLAIN", "秘密", "", "",
       {"a1 CAPABILITY", "a2 AUTHENTICATE PLAIN", "AGpvZQCU6Zan", "a3 EXAMINE \"INBOX\"", "a4 LOGOUT"}, u"ﾛｸﾞｵﾝ: 成功", true, false},
      {"LOGINDISABLED alone", kPlain, "IMAP4rev1 LOGINDISABLED", "secret", "", "", {"a1 CAPABILITY", "a2 LOGOUT"},
       u"ﾛｸﾞｲﾝ方法を示していません(LOGINDISABLED)", false, false},
      {"8-bit without PLAIN", kPlain, "IMAP4rev1", "秘密", "", "", {"a1 CAPABILITY", "a2 LOGOUT"},
       u"IMAPで送れない文字", false, false},
      {"wrong password", kStartTls, "IMAP4rev1", "wrong", "", "", 
       {"a1 CAPABILITY", "a2 STARTTLS", "a3 CAPABILITY", "a4 LOGIN \"joe\" \"wrong\"", "a5 LOGOUT"},
       u"ﾛｸﾞｵﾝ: 拒否されました: NO [AUTHENTICATIONFAILED] Authentication failed.", false, true},
      {"STARTTLS refused", kStartTls, "IMAP4rev1", "secret", "STARTTLS", "a2 NO not now\r\n",
       {"a1 CAPABILITY", "a2 STARTTLS", "a3 LOGOUT"}, u"ﾊﾟｽﾜｰﾄﾞは送っていません", false, false},
      {"capabilities asked after the logon", kPlain, "IMAP4rev1 IDLE", "secret", "LOGIN", "a2 OK Logged in\r\n",
       {"a1 CAPABILITY", "a2 LOGIN \"joe\" \"secret\"", "a3 CAPABILITY", "a4 EXAMINE \"INBOX\"", "a5 LOGOUT"}, u"IDLE: あり", true, false},
      {"PREAUTH", kPlain, "IMAP4rev1", "secret", "", "", {"a1 CAPABILITY", "a2 EXAMINE \"INBOX\"", "a3 LOGOUT"}, u"ﾛｸﾞｵﾝ: 成功", true, false},
  };
  for (const auto& c : cases) {
    for (std::size_t chunk : {1, 1 << 20}) {
      SCOPED_TRACE(::testing::Message() << c.name << " chunk " << chunk);
      TestRun r(c.mode);
      ConnectionTestInput in = imapInput(r, c.mode);
      in.password = fromUtf8(c.password);
      r.link.chunk = chunk;
      if (std::string(c.name) == "PREAUTH") r.link.greeting = "* PREAUTH welcome";
      r.link.imap->capabilities = c.capabilities;
      if (!c.command.empty()) r.link.imap->replies[c.command] = c.reply;
      r.go(in);
      EXPECT_EQ(r.link.commands, c.commands);
      EXPECT_EQ(r.result.loggedOn, c.loggedOn);
      EXPECT_EQ(r.result.logonRefused, c.logonRefused);
      EXPECT_EQ(r.tls.made.size(), c.mode == kPlain || c.command == "STARTTLS" ? 0u : 1u);
      EXPECT_TRUE(r.reportHas(c.shown)) << toUtf8(r.report);
      EXPECT_TRUE(r.link.closed);
    }
  }
}

TEST(ConnectionTest, InputFromTheEditor) {
  AccountForm f;
  f.host = u"h";
  f.port = u" 995";
  f.tlsMode = kImplicitTls;
  f.tlsPin = u"AB";
  f.tlsPinFor = pinBinding(u"h", 995, kImplicitTls);
  Text why;
  auto in = connectionTestInput(f, why);
  ASSERT_TRUE(in);
  EXPECT_EQ(in->port, 995);
  EXPECT_EQ(in->tlsMode, kImplicitTls);
  EXPECT_EQ(in->pin, "AB");
  AccountForm other = f;  // a pin accepted for another port is no pin here
  other.port = u"996";
  EXPECT_EQ(connectionTestInput(other, why)->pin, "");
  f.tlsMode = 7;  // damaged: plain
  EXPECT_EQ(connectionTestInput(f, why)->tlsMode, kPlain);
  for (const char16_t* port : {u"0", u"x", u""}) {
    f.port = port;
    EXPECT_FALSE(connectionTestInput(f, why));
    EXPECT_EQ(why, u"ﾎﾟｰﾄ番号が正しくありません");
  }
  f.port = u"110";
  f.host = u"";
  EXPECT_FALSE(connectionTestInput(f, why));
  EXPECT_EQ(why, u"ﾒｰﾙｻｰﾊﾞを入れてください");
}

}  // namespace
}  // namespace tarvi::settings
