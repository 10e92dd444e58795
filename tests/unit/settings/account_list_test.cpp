#include "settings/account_list.h"

#include <gtest/gtest.h>

#include <array>
#include <tuple>
#include <utility>

#include "common/scramble.h"
#include "common/tls_policy.h"
#include "common/sign_in.h"
#include "settings/connection_test.h"
#include "tests/fakes/fake_secrets.h"
#include "tests/fakes/fake_store.h"

namespace tarvi::settings {
namespace {

using fakes::FakeStore;

AccountSettings account(const char* name, const char* host, const char* user = "u") {
  AccountSettings a;
  a.name = fromUtf8(name);
  a.host = fromUtf8(host);
  a.user = fromUtf8(user);
  a.password = u"pw" + fromUtf8(name);
  a.textColor = static_cast<std::int32_t>(a.name.size());
  return a;
}

FakeStore storeWith(int n) {
  FakeStore store;
  AccountList list(store);
  for (int i = 1; i <= n; ++i) {
    AccountSettings a = account(("acc" + std::to_string(i)).c_str(), "h");
    a.tlsMode = static_cast<std::int16_t>(i % 3);  // 1 TLS, 2 STLS, 3 plain, ...
    list.add(a);
  }
  return store;
}

std::vector<std::string> names(const AccountList& list) {
  std::vector<std::string> out;
  for (const auto& r : list.rows()) out.push_back(toUtf8(r.name));
  return out;
}

TEST(AccountList, AddStoresTheAccountAndTheCount) {
  FakeStore store;
  AccountList list(store);
  AccountForm f;  // a new account as the editor shows it
  f.host = u"pop.example.jp";
  f.user = u"taro";
  f.password = u"秘密abc";
  auto a = accountFromForm(f);
  ASSERT_TRUE(a);
  EXPECT_EQ(list.add(*a), 1);
  EXPECT_EQ(store.at("accountno"), "1");
  EXPECT_EQ(store.at("Aname1"), "taro@pop.example.jp");
  EXPECT_EQ(store.at("Portno1"), "110");
  EXPECT_EQ(store.at("Check1"), "1");
  EXPECT_EQ(store.at("Scolor11"), "0");
  EXPECT_EQ(store.at("Scolor21"), "16777088");
  EXPECT_EQ(store.at("Wavdir2_1"), "0");
  EXPECT_EQ(toUtf8(*store.get(u"Passw1")), toUtf8(scramblePass(u"秘密abc")));
  EXPECT_EQ(store.writes.back(), u"accountno");  // the count after the account
  EXPECT_EQ(list.load(1).password, u"秘密abc");
  EXPECT_EQ(AccountList(store).count(), 1);
}

TEST(AccountList, EmptyFieldsAndTheNameRule) {
  struct Case {
    const char16_t *name, *user, *host;
    const char *storedName, *storedUser;
  } cases[] = {{u"", u"taro", u"pop.x", "taro@pop.x", "taro"},
               {u"", u"", u"pop.x", "@pop.x", "0"},
               {u"", u"", u"", "@", "0"},
               {u"会社", u"", u"h", "会社", "0"}};
  for (const auto& c : cases) {
    FakeStore store;
    AccountForm f;
    f.name = c.name;
    f.user = c.user;
    f.host = c.host;
    AccountList(store).add(*accountFromForm(f));
    EXPECT_EQ(store.at("Aname1"), c.storedName);
    EXPECT_EQ(store.at("Uname1"), c.storedUser);
    EXPECT_EQ(store.at("Passw1"), "0");
    EXPECT_EQ(AccountList(store).load(1).password, u"");
  }
}

TEST(AccountList, FormRoundTripAndPortRule) {
  AccountSettings a = account("n", "h");
  a.port = 995;
  a.checked = 0;
  a.backColor = 16777215;
  a.soundMode = 1;
  a.soundFile = u"C:\\a.wav";
  a.tlsMode = kImplicitTls;
  a.tlsPin = u"0a1b";
  a.tlsPinFor = pinBinding(u"h", 995, kImplicitTls);
  EXPECT_EQ(accountFromForm(accountForm(a)), std::optional<AccountSettings>(a));
  // The host edited after the certificate was accepted: the pin stays behind.
  AccountForm moved = accountForm(a);
  moved.host = u"h2";
  EXPECT_EQ(accountFromForm(moved)->tlsPin + accountFromForm(moved)->tlsPinFor, u"");
  AccountForm f = accountForm(a);
  for (const char16_t* bad : {u"0", u"-1", u"32768", u"70000", u"", u"1.5", u"abc"}) {
    f.port = bad;
    EXPECT_FALSE(accountFromForm(f)) << toUtf8(bad);
  }
  a.soundMode = 7;  // damaged: shown as the common sound
  EXPECT_EQ(accountForm(a).soundMode, 0);
  a.tlsMode = kTlsDamaged;  // shown as TLS (by its port), never as plain text
  EXPECT_EQ(accountForm(a).tlsMode, kImplicitTls);
  a.port = 110;
  EXPECT_EQ(accountForm(a).tlsMode, kStartTls);
}

TEST(AccountList, RefusesWhatTheLogonCannotSend) {
  // {user, password, the field named}; "" where both are in the code page.
  const std::array<const char16_t*, 3> cases[] = {
      {u"taro", u"秘密ｶﾅ①", u""}, {u"taro", u"pässword", u"ﾊﾟｽﾜｰﾄﾞ"},
      {u"taro", u"key\xD83D\xDE00", u"ﾊﾟｽﾜｰﾄﾞ"}, {u"jürgen", u"pw", u"ﾕｰｻﾞｰ名"}};
  for (auto [user, password, field] : cases) {
    AccountForm f;
    f.host = u"h";
    f.user = user;
    f.password = password;
    const Text why = accountFormProblem(f);
    Text testWhy;
    EXPECT_EQ(connectionTestInput(f, testWhy).has_value(), why.empty()) << toUtf8(password);
    EXPECT_EQ(testWhy, why);
    EXPECT_EQ(why.rfind(field, 0), 0u) << toUtf8(password);
  }
}


TEST(AccountList, SignInFieldsInTheForm) {
  AccountForm f;
  f.host = u"imap.example.jp";
  f.password = u"pw";
  f.authorizeUrl = u"https://id.example.jp/auth";
  f.tokenUrl = u"https://id.example.jp/token";
  f.scope = u"mail offline";
  f.clientId = u"client-1";
  f.refreshToken = u"rt";
  const struct {
    int signIn;
    bool password, endpoints, client;  // which the stored account keeps
  } cases[] = {{kPasswordSignIn, true, false, false}, {kGoogleSignIn, false, false, true},
               {kOtherSignIn, false, true, true}};
  for (const auto& c : cases) {
    f.signIn = c.signIn;
    const auto a = accountFromForm(f);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->password, c.password ? u"pw" : u"");
    EXPECT_EQ(a->oauthAuthorizeUrl + a->oauthTokenUrl + a->oauthScope,
              c.endpoints ? f.authorizeUrl + f.tokenUrl + f.scope : u"");
    EXPECT_EQ(a->oauthClient + a->refreshToken, c.client ? f.clientId + f.refreshToken : u"");
    // Edited again, the account keeps its sign-in.
    EXPECT_EQ(accountFromForm(accountForm(*a)), a);
  }
  AccountSettings damaged;
  damaged.signIn = 9;
  EXPECT_EQ(accountForm(damaged).signIn, kPasswordSignIn);
}

TEST(AccountList, SignInStatusAndProblems) {
  const struct {
    int signIn;
    const char16_t *user, *refreshToken, *tokenUrl, *clientId, *status, *problem;
  } cases[] = {
      {kPasswordSignIn, u"taro", u"rt", u"http://x", u"", u"", u""},
      {kOtherSignIn, u"taro", u"rt", u"https://id.example/t", u"c", u"サインイン済み (taro)", u""},
      {kOtherSignIn, u"", u"rt", u"https://id.example/t", u"c", u"サインイン済み", u""},
      {kOtherSignIn, u"taro", u"", u"https://id.example/t", u"", u"未サインイン", kNoClientId},
      {kOtherSignIn, u"taro", u"", u"http://id.example/t", u"c", u"未サインイン", kBadEndpoint},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(toUtf8(c.status) + toUtf8(c.problem));
    // A password the logon cannot send is no problem where none is sent.
    AccountForm f;
    f.host = u"h";
    f.user = c.user;
    f.password = c.signIn ? u"pässword" : u"pw";
    f.signIn = c.signIn;
    f.authorizeUrl = u"https://id.example/a";
    f.tokenUrl = c.tokenUrl;
    f.clientId = c.clientId;
    f.refreshToken = c.refreshToken;
    EXPECT_EQ(signInStatus(f), c.status);
    EXPECT_EQ(accountFormProblem(f), c.problem);
    forgetCredentials(f);
    EXPECT_EQ(f.password + f.refreshToken, u"");
  }
}

TEST(AccountList, SecretsGoThroughTheKeeperAndTheLegacyOption) {
  FakeStore store;
  fakes::FakeSecretKeeper keeper;
  AccountList list(store, &keeper);
  const AccountSettings a = account("a", "h");
  keeper.refuseProtect = true;
  ASSERT_EQ(list.add(a), 1);
  EXPECT_FALSE(list.secretsStored());
  store.set("Legacypw", "1");  // read at each save
  keeper.refuseProtect = false;
  EXPECT_TRUE(list.edit(1, a) && list.secretsStored());
  EXPECT_EQ(*store.get(u"Passw1"), scramblePass(a.password));
  EXPECT_EQ(list.load(1).password, a.password);
}

TEST(AccountList, TlsChoiceMovesOnlyTheStandardPorts) {
  struct Case {
    const char16_t* port;
    int mode, protocol;
    const char16_t* after;
  } cases[] = {{u"110", kImplicitTls, kPop3, u"995"}, {u"995", kPlain, kPop3, u"110"},
               {u" 110", kImplicitTls, kPop3, u"995"},  // as the box may hold it
               {u"110", kStartTls, kPop3, u"110"},      {u"995", kStartTls, kPop3, u"995"},
               {u"995", kImplicitTls, kPop3, u"995"},   {u"110", kPlain, kPop3, u"110"},
               {u"1110", kImplicitTls, kPop3, u"1110"}, {u"996", kPlain, kPop3, u"996"},
               {u"", kImplicitTls, kPop3, u""},         {u"abc", kPlain, kPop3, u"abc"},
               {u"143", kImplicitTls, kImap, u"993"},   {u"993", kPlain, kImap, u"143"},
               {u"143", kStartTls, kImap, u"143"},      {u"110", kImplicitTls, kImap, u"110"},
               {u"143", kImplicitTls, kPop3, u"143"}};
  for (const auto& c : cases)
    EXPECT_EQ(toUtf8(portForTlsMode(c.port, c.mode, c.protocol)), toUtf8(c.after))
        << toUtf8(c.port) << " " << c.mode << " " << c.protocol;
}

TEST(AccountList, ProtocolChoiceMovesOnlyTheStandardPorts) {
  struct Case {
    const char16_t* port;
    int protocol;
    const char16_t* after;
  } cases[] = {{u"110", kImap, u"143"},  {u"995", kImap, u"993"},  {u"143", kPop3, u"110"},
               {u"993", kPop3, u"995"},  {u"143", kImap, u"143"},  {u"110", kPop3, u"110"},
               {u"1143", kImap, u"1143"}, {u"993", kImap, u"993"}, {u"", kImap, u""}};
  for (const auto& c : cases)
    EXPECT_EQ(toUtf8(portForProtocol(c.port, c.protocol)), toUtf8(c.after)) << toUtf8(c.port) << " " << c.protocol;
}

TEST(AccountList, ImapFieldsInTheForm) {
  AccountSettings imap = account("n", "h");
  imap.protocol = kImap;
  imap.port = 993;
  imap.tlsMode = kImplicitTls;
  imap.folder = u"仕事/報告";
  imap.pushIdle = imap.unseenOnly = false;
  EXPECT_EQ(accountFromForm(accountForm(imap)), std::optional<AccountSettings>(imap));
  AccountForm f = accountForm(imap);
  f.folder = u"";  // an empty folder box stands for INBOX
  EXPECT_EQ(accountFromForm(f)->folder, u"INBOX");
  f.protocol = kPop3;  // switched to POP3: stored as a POP3 account always was
  const AccountSettings pop3 = *accountFromForm(f);
  EXPECT_EQ(std::tie(pop3.protocol, pop3.pushIdle, pop3.unseenOnly), std::make_tuple(std::int16_t{kPop3}, true, true));
  // A damaged protocol is shown by its port, and stored as shown.
  for (auto [port, shown] : {std::pair<std::int16_t, int>{143, kImap}, {993, kImap}, {110, kPop3}, {1143, kPop3}}) {
    imap.protocol = kProtocolDamaged;
    imap.port = port;
    EXPECT_EQ(accountFromForm(accountForm(imap))->protocol, shown) << port;
  }
  imap.port = 993;
  imap.tlsMode = kTlsDamaged;
  EXPECT_EQ(accountForm(imap).tlsMode, kImplicitTls);
}

TEST(AccountList, EditorGate) {
  EditorGate add(false);
  EXPECT_FALSE(add.okEnabled());  // a new account needs a host
  add.hostChanged(u"p");
  EXPECT_TRUE(add.okEnabled());
  add.portChanged(u"0");
  EXPECT_FALSE(add.okEnabled());
  add.portChanged(u"110");
  add.hostChanged(u"");
  EXPECT_FALSE(add.okEnabled());
  EditorGate edit(true);  // an edited account starts usable, even without host
  EXPECT_TRUE(edit.okEnabled());
  edit.portChanged(u"x");
  EXPECT_FALSE(edit.okEnabled());
}

TEST(AccountList, RowsShowNameHostCheckAndColours) {
  AccountSettings a = account("会社", "pop.example.jp");
  a.checked = 0;
  a.textColor = 255;
  a.backColor = 16777215;
  const AccountRow r = accountRow(a);
  EXPECT_EQ(toUtf8(r.name), "会社(pop.example.jp)");
  EXPECT_EQ(toUtf8(r.check), "×");
  EXPECT_EQ(r.foreColor, 255);
  EXPECT_EQ(r.backColor, 16777215);
  a.checked = 1;
  EXPECT_EQ(toUtf8(accountRow(a).check), "○");
  EXPECT_EQ(accountColumns(19).name, 4960);
  EXPECT_EQ(accountColumns(20).name, 4700);
  EXPECT_EQ(accountColumns(0).check, 320);
}

TEST(AccountList, DeleteRenumbers) {
  struct Case {
    int count, removed;
    std::vector<std::string> left;
    std::string tlsModes;  // Tlsmode1.. of the accounts left
  } cases[] = {{4, 2, {"acc1(h)", "acc3(h)", "acc4(h)"}, "101"},
               {3, 2, {"acc1(h)", "acc3(h)"}, "10"},
               {4, 4, {"acc1(h)", "acc2(h)", "acc3(h)"}, "120"},
               {4, 1, {"acc2(h)", "acc3(h)", "acc4(h)"}, "201"},
               {1, 1, {}, ""}};
  for (const auto& c : cases) {
    FakeStore store = storeWith(c.count);
    AccountList list(store);
    const AccountSettings last = list.load(c.count);
    store.writes.clear();
    ASSERT_TRUE(list.remove(c.removed));
    EXPECT_EQ(list.count(), c.count - 1);
    EXPECT_EQ(store.at("accountno"), std::to_string(c.count - 1));
    EXPECT_EQ(names(AccountList(store)), c.left);
    for (std::size_t k = 0; k < c.tlsModes.size(); ++k)
      EXPECT_EQ(store.at("Tlsmode" + std::to_string(k + 1)), c.tlsModes.substr(k, 1)) << k + 1;
    // Nothing is erased: the former last number still holds its account.
    EXPECT_EQ(list.load(c.count), last);
    // Only the moved accounts and the count are written.
    EXPECT_EQ(store.writes.size(), static_cast<std::size_t>(13 * (c.count - c.removed) + 1));
  }
}

TEST(AccountList, MovedAccountsKeepEveryField) {
  FakeStore store = storeWith(3);
  AccountList list(store);
  AccountSettings third = account("三番", "pop3.x", "");
  third.port = 1110;
  third.checked = 0;
  third.backColor = 123;
  third.soundMode = 2;
  third.soundFile = u"C:\\鳴る.wav";
  third.tlsMode = kStartTls;
  third.tlsPin = u"ab12";
  third.tlsPinFor = u"2 1110 pop3.x";
  third.protocol = kImap;
  third.folder = u"Work";
  third.pushIdle = false;
  ASSERT_TRUE(list.edit(3, third));
  ASSERT_TRUE(list.remove(1));
  AccountSettings expect = third;
  expect.user = u"0";  // an empty user is stored as "0" and reads back so
  EXPECT_EQ(list.load(2), expect);
}

TEST(AccountList, EditAndDeleteOnlyExistingRows) {
  FakeStore store = storeWith(2);
  AccountList list(store);
  store.writes.clear();
  for (int row : {0, 3, -1, 40}) {
    EXPECT_FALSE(list.isAccountRow(row));
    EXPECT_FALSE(list.edit(row, account("x", "y")));
    EXPECT_FALSE(list.remove(row));
  }
  EXPECT_TRUE(store.writes.empty());
  EXPECT_EQ(list.count(), 2);
  // Editing without change rewrites the same values under the same number.
  const FakeStore before = store;
  ASSERT_TRUE(list.edit(2, list.load(2)));
  EXPECT_EQ(store.values, before.values);
  EXPECT_EQ(store.writes.size(), 13u);
}

TEST(AccountList, DamagedCountMeansNoAccounts) {
  FakeStore store;
  store.set("accountno", "-3");
  AccountList list(store);
  EXPECT_EQ(list.count(), 0);
  EXPECT_TRUE(list.rows().empty());
  EXPECT_EQ(list.add(account("a", "b")), 1);
  EXPECT_EQ(store.at("accountno"), "1");
}

}  // namespace
}  // namespace tarvi::settings
