#include "common/settings.h"

#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "common/base64.h"
#include "common/scramble.h"
#include "tests/fakes/fake_secrets.h"
#include "tests/fakes/fake_store.h"

namespace tarvi {
namespace {

using fakes::FakeStore;

TEST(Settings, SchemaKeysAreUniqueAndComplete) {
  const auto keys = schema();
  std::set<Text> names;
  for (const auto& k : keys) EXPECT_TRUE(names.insert(k.name).second) << toUtf8(k.name);
  // 26 scalar keys, 8 hotkeys, 6 widths, 2 sizes, 2 dial-up keys, 24 prefixes
  EXPECT_EQ(keys.size(), 26u + 8 + 6 + 2 + 2 + 24);
  for (const char* n : {"accountno", "Hotkeynum7", "grdWidth5", "frmHeight", "Wavdir2_", "Passw", "Passwp",
                        "Oauthrefresh", "Legacypw", "Quiet"})
    EXPECT_TRUE(names.count(ascii(n))) << n;
}

TEST(Settings, GeneralRoundTripThroughStore) {
  GeneralSettings w;
  w.accountCount = 3;
  w.popupOnNewMail = true;
  w.suppressErrorBoxes = false;
  w.stayOnlineWithNewMail = true;
  w.decodeAll = false;
  w.trayIcon = false;
  w.balloon = false;
  w.legacyPassword = true;
  w.quiet = false;
  w.checkIntervalMinutes = 7;
  w.sessionLimitMinutes = 2;
  w.mailerPaths[0] = u"C:\\Program Files\\メーラー\\mail.exe";
  w.soundFile = u"C:\\ding.wav";
  w.hotkeys = {0, 65, 90, 112, 127, 212, 227, 200};
  w.columnWidths = {1, 2, 3, 4, 5, 6};
  w.popupWidth = -1;
  w.popupHeight = 32767;
  w.dialEntryPosition = -1;
  w.redialCount = 4;
  FakeStore store;
  writeKeys(store, generalKeys(w));
  EXPECT_EQ(store.at("Mailerdir2"), "");  // path keys keep the empty text
  EXPECT_EQ(store.at("Hotkeynum0"), "0");
  EXPECT_EQ(store.at("Option1value"), "1");  // flags as "0" and "1"
  EXPECT_EQ(store.at("Option3value"), "0");
  GeneralSettings r;
  for (auto& k : generalKeys(r)) EXPECT_TRUE(readKey(store, k)) << toUtf8(k.def.name);
  EXPECT_EQ(r, w);
}

TEST(Settings, EmptyStoreGivesEveryDefault) {
  FakeStore store;
  GeneralSettings r;
  r.suppressErrorBoxes = 9;  // make sure reading really writes the defaults
  r.hotkeys[3] = 0;
  r.decodeAll = false;
  r.trayIcon = false;
  r.balloon = false;
  r.quiet = false;
  for (auto& k : generalKeys(r)) EXPECT_TRUE(readKey(store, k));
  EXPECT_EQ(r, GeneralSettings{});
  EXPECT_EQ(r.accountCount, 0);
  EXPECT_EQ(r.suppressErrorBoxes, 1);
  EXPECT_EQ(r.blinkLamp, 1);
  EXPECT_TRUE(r.decodeAll);
  EXPECT_TRUE(r.trayIcon);
  EXPECT_TRUE(r.balloon);
  EXPECT_EQ(r.checkIntervalMinutes, 0);
  EXPECT_EQ(r.sessionLimitMinutes, 1);
  EXPECT_EQ(r.blinkSeconds, 5);
  for (int i = 0; i < kHotkeyCount; ++i) EXPECT_EQ(r.hotkeys[i], 113 + i);
  EXPECT_EQ(r.popupWidth, 8730);
  EXPECT_EQ(r.popupHeight, 4710);

  AccountSettings a;
  a.name = u"x";
  loadAccount(store, 1, a);
  EXPECT_EQ(a, AccountSettings{});
}

TEST(Settings, AccountRoundTripAndStoredForms) {
  AccountSettings a;
  a.name = u"会社";
  a.host = u"pop.example.jp";
  a.port = 995;
  a.user = u"";
  a.password = u"pässワード";
  a.checked = 0;
  a.textColor = 255;
  a.backColor = 16777215;
  a.soundMode = 1;
  a.soundFile = u"";
  FakeStore store;
  saveAccount(store, 12, a);
  EXPECT_EQ(store.at("Portno12"), "995");
  EXPECT_EQ(store.at("Uname12"), "0");   // empty texts are stored as "0"
  EXPECT_EQ(store.at("Wavdir2_12"), "0");
  EXPECT_EQ(store.at("Scolor212"), "16777215");
  EXPECT_EQ(store.at("Portno1"), "<absent>");
  std::vector<Text> order;
  for (auto& w : store.writes) order.push_back(w);
  const std::vector<Text> expect = {u"Aname12", u"Hname12", u"Portno12", u"Uname12",
                                    u"Passw12", u"Check12", u"Scolor112", u"Scolor212",
                                    u"Wavmode12", u"Wavdir2_12", u"Tlsmode12", u"Tlspin12",
                                    u"Tlspinfor12"};
  EXPECT_EQ(order, expect);

  AccountSettings r;
  loadAccount(store, 12, r);
  AccountSettings want = a;
  want.user = u"0";     // readers take "0" literally
  want.soundFile = u"0";
  want.password = u"p?ssワード";  // ä has no code in the code page
  EXPECT_EQ(r, want);

  a.password = u"";
  saveAccount(store, 2, a);
  EXPECT_EQ(store.at("Passw2"), "0");
  loadAccount(store, 2, r);
  EXPECT_EQ(r.password, u"");
}

TEST(Settings, ImapKeysAreWrittenOnlyWhenSetOrAlreadyStored) {
  AccountSettings imap;
  imap.protocol = kImap;
  imap.folder = u"仕事";
  imap.pushIdle = false;
  AccountSettings pop3;  // the protocol's keys at their defaults
  const struct {
    const char* name;
    const AccountSettings& account;
    bool slotWasImap;  // the number held an IMAP account before
    const char *protocol, *folder, *idle, *unseenOnly;
  } cases[] = {
      {"POP3 as before", pop3, false, "<absent>", "<absent>", "<absent>", "<absent>"},
      {"IMAP", imap, false, "1", "仕事", "0", "<absent>"},
      {"POP3 over IMAP", pop3, true, "0", "INBOX", "1", "1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeStore store;
    if (c.slotWasImap)
      for (const char* key : {"Protocol3", "Folder3", "Idle3", "Unseenonly3"}) store.set(key, "1");
    saveAccount(store, 3, c.account);
    EXPECT_EQ(store.at("Protocol3"), c.protocol);
    EXPECT_EQ(store.at("Folder3"), c.folder);
    EXPECT_EQ(store.at("Idle3"), c.idle);
    EXPECT_EQ(store.at("Unseenonly3"), c.unseenOnly);
    AccountSettings r;
    r.protocol = kImap;  // what the record held before: reading must replace it
    r.folder = u"x";
    loadAccount(store, 3, r);
    EXPECT_EQ(std::tie(r.protocol, r.folder, r.pushIdle, r.unseenOnly),
              std::tie(c.account.protocol, c.account.folder, c.account.pushIdle, c.account.unseenOnly));
  }
}

TEST(Settings, ValuesThatDoNotConvertLeaveTheField) {
  const struct {
    const char* stored;
    bool ok16;
    std::int16_t v16;
    bool ok32;
  } cases[] = {
      {"12", true, 12, true},        {" -5 ", true, -5, true},
      {"32767", true, 32767, true},  {"32768", false, 0, true},
      {"-32769", false, 0, true},    {"", false, 0, false},
      {"abc", false, 0, false},      {"1.5", false, 0, false},
      {"4294967296", false, 0, false},
      {"99999999999999999999999999999", false, 0, false},
      {"+7", true, 7, true},         {"--7", false, 0, false},
  };
  for (const auto& c : cases) {
    FakeStore store;
    store.set("Portno1", c.stored);
    store.set("Scolor11", c.stored);
    AccountSettings a;
    a.port = 4242;
    a.textColor = 77;
    loadAccount(store, 1, a);
    EXPECT_EQ(a.port, c.ok16 ? c.v16 : 4242) << c.stored;
    EXPECT_EQ(a.textColor != 77, c.ok32) << c.stored;
  }
}

TEST(Settings, SaveValueForms) {
  FakeStore s;
  saveValue(s, u"Aname1", 0, u"");
  saveValue(s, u"Wavdir", 0, u"");
  saveValue(s, u"Mailerdir1", 0, u"");
  saveValue(s, u"Option1value", 1, u"");
  saveValue(s, u"Aname2", 0, u"0");
  EXPECT_EQ(s.at("Aname1"), "0");
  EXPECT_EQ(s.at("Wavdir"), "");
  EXPECT_EQ(s.at("Mailerdir1"), "");
  EXPECT_EQ(s.at("Option1value"), "1");
  EXPECT_EQ(s.at("Aname2"), "0");
}

TEST(Settings, VeryLongTextReadsBack) {
  FakeStore s;
  const std::string longName(100000, 'x');
  s.set("Aname1", longName);
  AccountSettings a;
  loadAccount(s, 1, a);
  EXPECT_EQ(a.name.size(), longName.size());
}


// What a store holds for a secret made by `keeper`.
std::string storedBlob(SecretKeeper& keeper, const char* plain) { return encodeBase64(*keeper.protect(plain)); }

TEST(Settings, ProtectedSecretsReadBackOnlyWhereTheyWereMade) {
  fakes::FakeSecretKeeper here, elsewhere("machine-B");
  const std::string good = storedBlob(here, "pw"), foreign = storedBlob(elsewhere, "pw");
  const std::string damaged = "X" + good.substr(1);
  const std::string token = storedBlob(here, "refresh-1");
  const struct {
    const char *name, *passwp, *passw, *refresh;  // nullptr: absent
    SecretKeeper* keeper;
    const char16_t *password, *refreshToken;
    bool passwordUnreadable, refreshUnreadable;
  } cases[] = {
      {"protected", good.c_str(), "0", token.c_str(), &here, u"pw", u"refresh-1", false, false},
      {"not Base64", "@@@@", nullptr, "AB=C", &here, u"", u"", true, true},
      {"damaged blob", damaged.c_str(), nullptr, nullptr, &here, u"", u"", true, false},
      {"another machine's", foreign.c_str(), nullptr, foreign.c_str(), &here, u"", u"", true, true},
      {"unreadable never falls back", foreign.c_str(), "111 108 100 ", nullptr, &here, u"", u"", true, false},
      {"no keeper", good.c_str(), nullptr, token.c_str(), nullptr, u"", u"", true, true},
      {"earlier version's", nullptr, "111 108 100 ", nullptr, &here, u"old", u"", false, false},
      {"emptied", "0", "0", "0", &here, u"", u"", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeStore store;
    if (c.passwp) store.set("Passwp1", c.passwp);
    if (c.passw) store.set("Passw1", c.passw);
    if (c.refresh) store.set("Oauthrefresh1", c.refresh);
    AccountSettings a;
    a.refreshToken = u"left over";
    loadAccount(store, 1, a, c.keeper);
    EXPECT_EQ(a.password, c.password);
    EXPECT_EQ(a.passwordUnreadable, c.passwordUnreadable);
    EXPECT_EQ(a.refreshToken, c.refreshToken);
    EXPECT_EQ(a.refreshUnreadable, c.refreshUnreadable);
  }
}

TEST(Settings, SecretsAreStoredOnlyProtected) {
  const Text password = u"ひみつpw", token = u"rt-secret";
  const struct {
    const char* name;
    bool legacy, refuse, emptyPassword, storedBefore, ok;
    const char* passw;  // what Passw holds; "scrambled": the password scrambled
    bool blob;          // Passwp holds a blob of the password
  } cases[] = {
      {"protected only", false, false, false, false, true, "0", true},
      {"and for earlier versions", true, false, false, false, true, "scrambled", true},
      {"empty password", false, false, true, false, true, "0", false},
      {"emptied over a stored one", true, false, true, true, true, "0", false},
      {"system refuses", true, true, false, true, false, "0", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fakes::FakeSecretKeeper keeper;
    FakeStore store;
    if (c.storedBefore)
      for (const char* key : {"Passwp4", "Oauthrefresh4"}) store.set(key, storedBlob(keeper, "older"));
    keeper.refuseProtect = c.refuse;
    AccountSettings a;
    a.password = c.emptyPassword ? Text() : password;
    a.refreshToken = token;
    EXPECT_EQ(saveAccount(store, 4, a, &keeper, c.legacy), c.ok);
    EXPECT_EQ(store.at("Passw4"), c.passw == std::string("scrambled") ? toUtf8(scramblePass(password)) : c.passw);
    for (const auto& [key, value] : store.values) {
      EXPECT_EQ(value.find(password), Text::npos) << toUtf8(key);
      EXPECT_EQ(value.find(token), Text::npos) << toUtf8(key);
    }
    if (!c.blob) {
      EXPECT_EQ(store.at("Passwp4"), c.storedBefore ? "0" : "<absent>");
    }
    AccountSettings r;
    loadAccount(store, 4, r, &keeper);
    EXPECT_EQ(r.password, c.blob ? password : Text());
    EXPECT_EQ(r.refreshToken, c.refuse ? Text() : token);
    EXPECT_FALSE(r.passwordUnreadable || r.refreshUnreadable);
  }
}

TEST(Settings, RefreshTokenIsStoredAlone) {
  fakes::FakeSecretKeeper keeper;
  FakeStore store;
  saveRefreshToken(store, 2, u"new-token", keeper);
  keeper.refuseProtect = true;
  saveRefreshToken(store, 2, u"newer", keeper);  // the one stored stays
  EXPECT_EQ(store.writes, std::vector<Text>{u"Oauthrefresh2"});
  AccountSettings a;
  loadAccount(store, 2, a, &keeper);
  EXPECT_EQ(a.refreshToken, u"new-token");
}

}  // namespace
}  // namespace tarvi
