// Accounts that sign in with a provider's token: what each protocol sends,
// and when the token is renewed, given up or not sent at all.
#include <gtest/gtest.h>

#include <algorithm>

#include "common/base64.h"
#include "common/sign_in.h"
#include "monitor/imap/imap_sessions.h"
#include "tests/fakes/fake_secrets.h"
#include "tests/fakes/monitor_rig.h"

namespace tarvi::fakes {
namespace {

using Lines = std::vector<std::string>;

struct TokenRig : MonitorRig {
  FakeSecretKeeper secrets;
  TokenRig() { state().secrets = &secrets; }

  // Account n signs in with the test provider; its stored refresh token is "rt<n>".
  void signIn(int n) {
    const std::string s = std::to_string(n);
    store.set("Auth" + s, "3");
    store.set("Oauthauthurl" + s, "http://127.0.0.1:9/authorize");
    store.set("Oauthtokenurl" + s, "http://127.0.0.1:9/token");
    store.set("Oauthscope" + s, "mail");
    store.set("Oauthclient" + s, "cid");
    store.set("Oauthrefresh" + s, encodeBase64(*secrets.protect("rt" + s)));
  }
  int count(const std::string& command) const {
    const Lines sent = commands();
    return static_cast<int>(std::count_if(sent.begin(), sent.end(), [&](const std::string& c) {
      return c.find(command) != std::string::npos;
    }));
  }
  std::int64_t mail(int a) { return state().accounts.find(a)->lastCount; }
};

// Lines with "<b64>" stand for the SASL response, whatever it holds.
void expectDialogue(Lines sent, const Lines& want, const std::string& what) {
  for (std::string& l : sent)  // IMAP's tags are of no interest here
    if (l.size() > 2 && l[0] == 'A' && std::isdigit(static_cast<unsigned char>(l[1]))) l.erase(0, l.find(' ') + 1);
  sent.resize(std::min(sent.size(), want.size()));
  ASSERT_EQ(sent.size(), want.size()) << what;
  for (std::size_t i = 0; i < want.size(); ++i)
    if (want[i] != "<b64>") {
      EXPECT_EQ(sent[i], want[i]) << what << " line " << i;
    }
}

TEST(TokenLogon, EachProtocolSendsTheTokenTheWayTheServerTakesIt) {
  const struct {
    const char* what;
    bool imap;
    std::string capabilities;  // IMAP
    bool oauthBearerOnly;      // POP3
    Lines sent;
    std::string error;
  } cases[] = {
      {"POP3 XOAUTH2 in two steps", false, "", false, {"AUTH XOAUTH2", "<b64>", "STAT"}, ""},
      {"POP3 falls back to OAUTHBEARER", false, "", true, {"AUTH XOAUTH2", "AUTH OAUTHBEARER", "<b64>", "STAT"}, ""},
      {"IMAP XOAUTH2 with the initial response", true, "IMAP4rev1 AUTH=XOAUTH2 AUTH=OAUTHBEARER SASL-IR", false,
       {"CAPABILITY", "<b64>", "EXAMINE \"INBOX\""}, ""},
      {"IMAP OAUTHBEARER after the continuation", true, "IMAP4rev1 AUTH=OAUTHBEARER", false,
       {"CAPABILITY", "AUTHENTICATE OAUTHBEARER", "<b64>", "EXAMINE \"INBOX\""}, ""},
      {"IMAP without a token mechanism", true, "IMAP4rev1 AUTH=PLAIN", false, {"CAPABILITY", "LOGOUT"},
       toUtf8(kNoTokenLogon)},
  };
  for (const auto& c : cases) {
    TokenRig rig;
    if (c.imap) {
      ImapServer& s = rig.addImapAccount(1, "A1");
      s.capabilities = c.capabilities;
      s.token = "at1";
      s.add(message("u1@x", "s1"));
    } else {
      Mailbox& b = rig.addAccount(1, "A1");
      b.token = "at1";
      b.oauthBearerOnly = c.oauthBearerOnly;
      b.messages.push_back(message("u1@x", "s1"));
    }
    rig.signIn(1);
    rig.store.set("Option8value", "1");  // the session log is kept
    ASSERT_TRUE(rig.start());
    rig.checkAll();
    expectDialogue(rig.commands(), c.sent, c.what);
    EXPECT_EQ(rig.dialogs.texts(), c.error.empty() ? Lines{} : Lines{c.error}) << c.what;
    EXPECT_EQ(rig.mail(1), c.error.empty() ? 1 : 0) << c.what;
    // The renewal asked the account's provider with its refresh token.
    ASSERT_EQ(rig.tokens.posts.size(), 1u) << c.what;
    EXPECT_EQ(rig.tokens.posts[0].url, "http://127.0.0.1:9/token") << c.what;
    EXPECT_NE(rig.tokens.posts[0].body.find("grant_type=refresh_token&refresh_token=rt1"), std::string::npos)
        << rig.tokens.posts[0].body;
    // Neither token reaches the session log.
    const std::string log = toUtf8(rig.monitor.checker().sessionLog());
    EXPECT_EQ(log.find("at1"), std::string::npos) << c.what << ": " << log;
    EXPECT_EQ(log.find("dXNlcj1"), std::string::npos) << c.what << ": " << log;  // "user=" in Base64
    if (c.imap || !c.error.empty()) continue;
    // The retrieve and delete runs log on the same way, with the token held.
    const std::size_t before = rig.sock.sent.size();
    rig.mark(1, 1);
    rig.monitor.retrieveMarked();
    rig.settle();
    rig.mark(1, 1);
    rig.dialogs.answers.push_back(MsgAnswer::Yes);
    rig.monitor.deleteMarked();
    rig.settle();
    const Lines runs = rig.commands(before);
    EXPECT_NE(std::find(runs.begin(), runs.end(), "RETR 1"), runs.end()) << c.what;
    EXPECT_NE(std::find(runs.begin(), runs.end(), "DELE 1"), runs.end()) << c.what;
    EXPECT_EQ(std::count(runs.begin(), runs.end(), c.sent[0]), 3) << c.what << ": retrieve, delete, the check after";
    EXPECT_EQ(rig.tokens.posts.size(), 1u) << c.what;
  }
}

TEST(TokenLogon, RenewedWhenDueOnceAtMostAndNeverSentWithoutASecret) {
  const struct {
    const char* what;
    std::function<void(TokenRig&)> setup;
    std::function<void(TokenRig&)> between;  // after the first check
    int posts, tokenLogons;  // over two checks of account 1
    std::int64_t mail;       // account 1 after them (-1: not looked at)
    std::string error;       // the one text the user saw ("" none)
  } cases[] = {
      // A token taken before and refused now (the server revoked it): one
      // renewal, and the logon again. A token fresh from the provider that
      // the server refuses is final: renewing again would only loop.
      {"a refused token is renewed without a word", {}, [](TokenRig& r) { r.boxes[1001].token = "at2"; }, 2, 3, 1,
       ""},
      {"refused again after its renewal: final, no loop", {}, [](TokenRig& r) { r.boxes[1001].token = "zz"; }, 2, 3,
       -1, "[AUTH] Authentication failed."},
      {"an expired token is renewed before the logon", [](TokenRig& r) { r.tokens.lifetimeSeconds = 120; },
       [](TokenRig& r) {
         r.boxes[1001].token = "at2";
         r.settle(61);
       },
       2, 2, 1, ""},
      {"a token shorter-lived than the margin is still used", [](TokenRig& r) { r.tokens.lifetimeSeconds = 30; },
       [](TokenRig& r) { r.boxes[1001].token = "at2"; }, 2, 2, 1, ""},
      {"revoked: told once, then passed over", [](TokenRig& r) { r.tokens.revoked = {"rt1"}; }, {}, 1, 0, 0,
       "A1: " + toUtf8(kSignInAgain)},
      {"provider unreachable: said, tried again next time", [](TokenRig& r) { r.tokens.down = true; }, {}, 2, 0, 0,
       "A1: " + toUtf8(kTokenRefused)},
      {"no reply within the time limit", [](TokenRig& r) { r.tokens.hold = true; }, {}, 1, 0, 0,
       "A1: " + toUtf8(kTokenTimeUp)},
      {"refresh token that does not unprotect: nothing sent",
       [](TokenRig& r) { r.store.set("Oauthrefresh1", "AAAA"); }, {}, 0, 0, 0, "A1: " + toUtf8(kNotSignedIn)},
      {"password that does not unprotect: nothing sent",
       [](TokenRig& r) {
         r.store.set("Auth1", "0");
         r.store.set("Passwp1", "AAAA");
       },
       {}, 0, 0, 0, "A1: " + toUtf8(kPasswordUnreadable)},
  };
  for (const auto& c : cases) {
    TokenRig rig;
    rig.addAccount(1, "A1").token = "at1";
    rig.boxes[1001].messages.push_back(message("u1@x", "s1"));
    rig.addAccount(2, "A2").messages.push_back(message("u1@x", "s1"));  // a password account beside it
    rig.signIn(1);
    if (c.setup) c.setup(rig);
    ASSERT_TRUE(rig.start());
    rig.checkAll();
    if (c.between) c.between(rig);
    rig.settle(70);
    rig.checkAll();
    rig.settle(70);
    EXPECT_EQ(static_cast<int>(rig.tokens.posts.size()), c.posts) << c.what;
    EXPECT_EQ(rig.count("AUTH XOAUTH2"), c.tokenLogons) << c.what;
    if (c.mail >= 0) {
      EXPECT_EQ(rig.mail(1), c.mail) << c.what;
    }
    EXPECT_EQ(rig.mail(2), 1) << c.what << ": the other account is checked all the same";
    const Lines texts = rig.dialogs.texts();
    if (c.error.empty()) {
      EXPECT_EQ(texts, Lines{}) << c.what;
    } else {
      ASSERT_FALSE(texts.empty()) << c.what;
      EXPECT_NE(texts[0].find(c.error), std::string::npos) << c.what << ": " << texts[0];
    }
    if (c.tokenLogons == 0) {
      EXPECT_EQ(rig.count("USER user1"), 0) << c.what << ": no password instead";
    }
  }
}

TEST(TokenLogon, ALostSignInShowsInTheCaptionAndTrayUntilSignedInAgain) {
  TokenRig rig;
  rig.addAccount(1, "A1").token = "at1";
  rig.signIn(1);
  rig.tokens.revoked = {"rt1"};
  rig.store.set("Trayicon", "1");
  ASSERT_TRUE(rig.start());
  rig.checkAll();
  EXPECT_NE(rig.window.lastCaption().find("ｻｲﾝｲﾝが必要: A1"), std::string::npos) << rig.window.lastCaption();
  EXPECT_NE(rig.tray.tooltip.find("ｻｲﾝｲﾝが必要: A1"), std::string::npos);
  ASSERT_EQ(rig.tray.balloons.size(), 1u);
  EXPECT_TRUE(rig.dialogs.texts().empty()) << "the balloon says it";
  ASSERT_TRUE(rig.monitor.needsSignIn());
  // The user signs in again (the settings program stores a new token).
  rig.processes.onStart = [&](const Text& commandLine) {
    EXPECT_NE(toUtf8(commandLine).find("tarvicfg.exe\" /signin 1"), std::string::npos) << toUtf8(commandLine);
    rig.store.set("Oauthrefresh1", encodeBase64(*rig.secrets.protect("rt9")));
  };
  rig.monitor.signInAgain();
  rig.settle();

  EXPECT_FALSE(rig.monitor.needsSignIn());
  EXPECT_EQ(rig.tray.tooltip.find("ｻｲﾝｲﾝが必要"), std::string::npos);
  EXPECT_EQ(rig.count("AUTH XOAUTH2"), 1);
}

}  // namespace
}  // namespace tarvi::fakes
