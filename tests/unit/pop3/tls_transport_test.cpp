#include <gtest/gtest.h>

#include "common/tls_policy.h"
#include "monitor/net/transport.h"
#include "tests/unit/pop3/session_rig.h"

namespace tarvi::fakes {
namespace {

void useTls(SessionRig& rig, std::int16_t mode) {
  rig.account.tlsMode = mode;
  rig.box.implicitTls = mode == kImplicitTls;
}

const std::pair<const char*, std::int16_t> kModes[] = {
    {"plain", kPlain}, {"implicit", kImplicitTls}, {"stls", kStartTls}};

TEST(TlsTransport, ChecksAsInTheClearHoweverTheRecordsAreCut) {
  // Whole pieces carry the implicit greeting behind the server's handshake
  // record; the cuts end records early, mid-header and mid-payload; the
  // long header takes several records.
  std::string plainLog;
  for (auto [name, mode] : kModes) {
    for (auto& [cut, split] : splits(8)) {
      const std::string what = std::string(name) + " " + cut;
      SessionRig rig;
      useTls(rig, mode);
      rig.log.enabled = true;
      rig.addMessages(3);
      rig.box.messages[1] = "X-Filler: " + std::string(250, 'f') + "\r\n" + rig.box.messages[1];
      rig.sock.split = split;
      rig.check();
      const bool tls = mode != kPlain;
      EXPECT_EQ(rig.sock.sent, (mode == kStartTls ? Lines{"STLS"} : Lines{}) + checkDialogue(3)) << what;
      for (int m = 1; m <= 3; ++m) EXPECT_EQ(rig.subject(m), "s" + std::to_string(m)) << what;
      // Whole, the sessions read the same bytes as in the clear (cut, the
      // pieces they see differ, but not what they make of them).
      if (plainLog.empty()) plainLog = toUtf8(rig.log.text);
      if (cut == "whole") {
        EXPECT_EQ(toUtf8(rig.log.text), (mode == kStartTls ? "STLS\r\n\r\n" : "") + plainLog) << what;
      }
      EXPECT_EQ(rig.errors, Lines{}) << what;
      EXPECT_EQ(rig.ended, 1) << what;
      // The certificate was judged off the window thread, once.
      EXPECT_EQ(rig.sock.worked, tls ? 1 : 0) << what;
      EXPECT_EQ(rig.sock.wire.find("PASS pw1") == std::string::npos, tls) << what;
      EXPECT_EQ(rig.sock.tlsHosts, tls ? Lines{"127.0.0.1"} : Lines{}) << what;
      EXPECT_EQ(rig.sock.tlsCloses, tls ? 1 : 0) << what;  // close_notify after QUIT
      EXPECT_EQ(rig.tls.made.size(), tls ? 1u : 0u) << what;
      EXPECT_LT(rig.pump.maxDepth, 16) << what;
      expectAllClosed(rig.sock, what);
    }
  }
}

TEST(TlsTransport, RefusalsAndClosesSendNothingOfTheUser) {
  CertificateReport untrusted = FakeTlsEngine().cert, mismatch = untrusted;
  untrusted.untrusted = true;
  mismatch.nameMismatch = true;
  const auto refused = [](const CertificateReport& c) { return toUtf8(certificateRefusedMessage(c)); };
  const Lines logon = {"USER user1", "PASS pw1", "STAT"};
  const struct {
    const char* what;
    std::int16_t mode;
    std::function<void(SessionRig&)> setup;
    Lines sent;
    std::string error;
    int ended, closeNotifies;
  } cases[] = {
      {"untrusted", kImplicitTls, [&](SessionRig& r) { r.tls.nextCert = untrusted; }, {}, refused(untrusted), 1, 1},
      {"name mismatch after STLS", kStartTls, [&](SessionRig& r) { r.tls.nextCert = mismatch; }, {"STLS"},
       refused(mismatch), 1, 1},
      {"untrusted but pinned", kImplicitTls,
       [&](SessionRig& r) {
         r.tls.nextCert = untrusted;
         r.account.tlsPin = Text(64, u'C');
         r.account.tlsPinFor = pinBinding(u"127.0.0.1", 1001, kImplicitTls);
       },
       checkDialogue(0), "", 1, 1},
      {"pinned for another host", kImplicitTls,
       [&](SessionRig& r) {
         r.tls.nextCert = untrusted;
         r.account.tlsPin = Text(64, u'C');
         r.account.tlsPinFor = pinBinding(u"mail.example", 1001, kImplicitTls);
       },
       {}, refused(untrusted), 1, 1},
      {"another certificate pinned", kImplicitTls,
       [&](SessionRig& r) {
         r.tls.nextCert = untrusted;
         r.account.tlsPin = Text(64, u'd');
       },
       {}, refused(untrusted), 1, 1},
      {"STLS refused", kStartTls, [](SessionRig& r) { r.box.replies["STLS"] = "-ERR not now\r\n"; },
       {"STLS", "QUIT"}, toUtf8(kStlsRefused), 1, 0},
      {"greeting refused before STLS", kStartTls, [](SessionRig& r) { r.sock.greeting = "-ERR busy\r\n"; },
       {"QUIT"}, " busy\r\n", 1, 0},
      {"bytes injected after the STLS acceptance", kStartTls,
       [](SessionRig& r) { r.box.replies["STLS"] = "+OK\r\n+OK\r\n"; }, {"STLS"}, toUtf8(kStlsInjected), 1, 0},
      {"endless chatter before the greeting", kStartTls,
       [](SessionRig& r) {
         // In pieces that each fit the cap: the cap is on the whole.
         r.transport.maxReplyBytes = 10000;
         for (int i = 0; i < 3000; ++i) r.sock.greeting.insert(0, "* hello\r\n");
         r.sock.split = [](const std::string& s) {
           Lines pieces;
           for (std::size_t at = 0; at < s.size(); at += 900) pieces.push_back(s.substr(at, 900));
           return pieces;
         };
       },
       {}, toUtf8(kReplyTooLarge), 1, 0},
      {"handshake fails", kImplicitTls, [](SessionRig& r) { r.box.implicitTls = false; }, {},
       "bad handshake record", 1, 0},
      {"damaged mode", kTlsDamaged, [](SessionRig&) {}, {}, toUtf8(kTlsModeDamaged), 1, 0},
      {"no engine", kImplicitTls, [](SessionRig& r) { r.transport.tls = nullptr; }, {}, toUtf8(kTlsUnavailable),
       1, 0},
      {"server closes in a reply", kImplicitTls,
       [](SessionRig& r) {
         r.addMessages(1);
         r.box.replies["TOP"] = "+OK\r\nSubject: half\r\n";
         r.sock.tlsCloseAfter = "TOP";
       },
       logon + Lines{"TOP 1 5"}, toUtf8(kTlsClosedByServer), 1, 0},
      {"server closes after QUIT", kStartTls, [](SessionRig& r) { r.sock.tlsCloseAfter = "QUIT"; },
       Lines{"STLS"} + checkDialogue(0), "", 1, 1},
  };
  for (auto& c : cases) {
    SessionRig rig;
    useTls(rig, c.mode);
    c.setup(rig);
    // Whoever sits between us and the server answers "+OK" to anything
    // while the error box is open: nothing of the user goes out after it.
    rig.whileReporting = [&rig] {
      rig.sock.serverSends("+OK\r\n");
      rig.pump.runAll();
    };
    rig.check();
    EXPECT_EQ(rig.sock.sent, c.sent) << c.what;
    EXPECT_EQ(rig.sock.wire.find("USER"), std::string::npos) << c.what;
    EXPECT_EQ(rig.sock.wire.find("PASS"), std::string::npos) << c.what;
    EXPECT_EQ(rig.errors, c.error.empty() ? Lines{} : Lines{c.error}) << c.what;
    EXPECT_EQ(rig.ended, c.ended) << c.what;
    EXPECT_EQ(rig.failures, c.ended && !c.error.empty() ? 1 : 0) << c.what;
    EXPECT_EQ(rig.sock.tlsCloses, c.closeNotifies) << c.what;
    expectAllClosed(rig.sock, c.what);
  }
}

TEST(TlsTransport, TimeUpInTheHandshakeClosesWithoutAWord) {
  SessionRig rig;
  rig.account.tlsMode = kImplicitTls;
  rig.sock.greeting = "";  // a plain server that never answers the hello
  rig.sock.respond = [](const std::string&) { return std::string(); };
  rig.check();
  ASSERT_EQ(rig.transport.current()->tlsStage(), TlsStage::Handshake);
  rig.transport.timeUp();
  rig.pump.runAll();
  EXPECT_EQ(rig.sock.wire, faketls::record(faketls::kClientHello + "127.0.0.1"));  // no QUIT in the clear
  EXPECT_EQ(rig.ended, 1);
  EXPECT_EQ(rig.errors, Lines{});
  expectAllClosed(rig.sock, "time up");
}

}  // namespace
}  // namespace tarvi::fakes
