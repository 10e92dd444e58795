#include "settings/account_list.h"

#include "common/cp932.h"
#include "common/sign_in.h"
#include "common/tls_policy.h"
#include "settings/options_model.h"

namespace tarvi::settings {

AccountRow accountRow(const AccountSettings& a) {
  return {a.name + u"(" + a.host + u")", a.checked ? u"○" : u"×", a.textColor, a.backColor};
}

AccountColumns accountColumns(int accountCount) {
  return {accountCount >= 20 ? 4700 : 4960, 320};
}

AccountForm accountForm(const AccountSettings& a) {
  AccountForm f;
  f.name = a.name;
  f.host = a.host;
  f.port = decimal(a.port);
  f.user = a.user;
  f.password = a.password;
  f.check = a.checked;
  f.foreColor = a.textColor;
  f.backColor = a.backColor;
  f.soundMode = (a.soundMode == 1 || a.soundMode == 2) ? a.soundMode : 0;
  f.sound = a.soundFile;
  f.tlsMode = a.tlsMode;
  // A damaged mode is shown as TLS, never as plain text: saved as it is
  // shown, it must not send the password in the clear.
  if (a.tlsMode != kPlain && a.tlsMode != kImplicitTls && a.tlsMode != kStartTls)
    f.tlsMode = a.port == 995 || a.port == 993 ? kImplicitTls : kStartTls;
  f.tlsPin = a.tlsPin;
  f.tlsPinFor = a.tlsPinFor;
  f.protocol = a.protocol;
  // A damaged protocol is shown as what its port suggests; OK then stores
  // a protocol that reads again.
  if (a.protocol != kPop3 && a.protocol != kImap)
    f.protocol = a.port == 143 || a.port == 993 ? kImap : kPop3;
  f.folder = a.folder;
  f.pushIdle = a.pushIdle;
  f.unseenOnly = a.unseenOnly;
  f.signIn = a.signIn >= kPasswordSignIn && a.signIn <= kOtherSignIn ? a.signIn : int{kPasswordSignIn};
  f.authorizeUrl = a.oauthAuthorizeUrl;
  f.tokenUrl = a.oauthTokenUrl;
  f.scope = a.oauthScope;
  f.clientId = a.oauthClient;
  f.refreshToken = a.refreshToken;
  return f;
}

Text signInStatus(const AccountForm& form) {
  if (form.signIn == kPasswordSignIn) return {};
  if (form.refreshToken.empty()) return u"未サインイン";
  return form.user.empty() ? Text(u"サインイン済み") : u"サインイン済み (" + form.user + u")";
}

void forgetCredentials(AccountForm& form) {
  form.password.clear();
  form.refreshToken.clear();
}

namespace {

struct StandardPorts {
  int plain;  // also STARTTLS's
  int tls;
};

StandardPorts standardPorts(int protocol) {
  return protocol == kImap ? StandardPorts{143, 993} : StandardPorts{110, 995};
}

}  // namespace

Text portForTlsMode(TextView port, int mode, int protocol) {
  const auto n = parseInteger(port, 1, INT16_MAX);
  const StandardPorts p = standardPorts(protocol);
  if (mode == kImplicitTls && n == p.plain) return decimal(p.tls);
  if (mode == kPlain && n == p.tls) return decimal(p.plain);
  return Text(port);
}

Text portForProtocol(TextView port, int protocol) {
  const auto n = parseInteger(port, 1, INT16_MAX);
  const StandardPorts from = standardPorts(protocol == kImap ? kPop3 : kImap);
  const StandardPorts to = standardPorts(protocol);
  if (n == from.plain) return decimal(to.plain);
  if (n == from.tls) return decimal(to.tls);
  return Text(port);
}

std::optional<AccountSettings> accountFromForm(const AccountForm& f) {
  auto port = parsePortText(f.port);
  if (!port) return std::nullopt;
  AccountSettings a;
  a.name = f.name.empty() ? f.user + u"@" + f.host : f.name;
  a.host = f.host;
  a.port = *port;
  a.user = f.user;
  a.password = f.password;
  a.checked = f.check;
  a.textColor = f.foreColor;
  a.backColor = f.backColor;
  a.soundMode = static_cast<std::int16_t>(f.soundMode == 1 || f.soundMode == 2 ? f.soundMode : 0);
  a.soundFile = f.sound;
  a.tlsMode = static_cast<std::int16_t>(f.tlsMode == kImplicitTls || f.tlsMode == kStartTls ? f.tlsMode : kPlain);
  // Edited since the certificate was accepted, the account stands for
  // another server (or the same in another way): the pin does not follow.
  if (!usablePin(f.tlsPin, f.tlsPinFor, a.host, a.port, a.tlsMode).empty()) {
    a.tlsPin = f.tlsPin;
    a.tlsPinFor = f.tlsPinFor;
  }
  if (f.protocol == kImap) {
    a.protocol = kImap;
    if (!f.folder.empty()) a.folder = f.folder;
    a.pushIdle = f.pushIdle;
    a.unseenOnly = f.unseenOnly;
  }
  if (f.signIn == kMicrosoftSignIn || f.signIn == kGoogleSignIn || f.signIn == kOtherSignIn) {
    a.signIn = static_cast<std::int16_t>(f.signIn);
    a.password.clear();  // never sent: kept nowhere
    if (f.signIn == kOtherSignIn) {
      a.oauthAuthorizeUrl = f.authorizeUrl;
      a.oauthTokenUrl = f.tokenUrl;
      a.oauthScope = f.scope;
    }
    a.oauthClient = f.clientId;
    a.refreshToken = f.refreshToken;
  }
  return a;
}

Text accountFormProblem(const AccountForm& form) {
  auto sendable = [](const Text& s) {
    for (char16_t c : s)
      if (cp932::codeOf(c) < 0) return false;
    return true;
  };
  const char16_t* kNotInCodePage = u"(Shift_JISにない文字は送れません)";
  if (!sendable(form.user)) return Text(u"ﾕｰｻﾞｰ名にｻｰﾊﾞへ送れない文字が含まれています\r\n") + kNotInCodePage;
  if (form.signIn == kPasswordSignIn) {
    if (!sendable(form.password)) return Text(u"ﾊﾟｽﾜｰﾄﾞにｻｰﾊﾞへ送れない文字が含まれています\r\n") + kNotInCodePage;
    return {};
  }
  const auto a = accountFromForm(form);
  return a ? signInProblem(*a) : Text();
}

void EditorGate::portChanged(TextView port) { portOk_ = parsePortText(port).has_value(); }

AccountList::AccountList(SettingsStore& store, SecretKeeper* secrets)
    : store_(store), secrets_(secrets), count_(readAccountCount(store)) {}

AccountSettings AccountList::load(int n) const {
  AccountSettings a;
  clearAccount(a);
  loadAccount(store_, n, a, secrets_);
  return a;
}

bool AccountList::save(int n, const AccountSettings& a) {
  // Read at each save: the option is set in the registry, not here.
  GeneralSettings options;
  for (const auto& k : generalKeys(options, KeyGroup::Options)) readKey(store_, k);
  return saveAccount(store_, n, a, secrets_, options.legacyPassword);
}

std::vector<AccountRow> AccountList::rows() const {
  std::vector<AccountRow> out;
  for (int n = 1; n <= count_; ++n) out.push_back(accountRow(load(n)));
  return out;
}

int AccountList::add(const AccountSettings& a) {
  if (count_ >= INT16_MAX) return 0;  // the account count is 16-bit
  ++count_;
  secretsStored_ = save(count_, a);
  writeAccountCount(store_, static_cast<std::int16_t>(count_));
  return count_;
}

bool AccountList::edit(int n, const AccountSettings& a) {
  if (!isAccountRow(n)) return false;
  secretsStored_ = save(n, a);
  return true;
}

bool AccountList::remove(int n) {
  if (!isAccountRow(n)) return false;
  for (int k = n + 1; k <= count_; ++k) save(k - 1, load(k));
  --count_;
  writeAccountCount(store_, static_cast<std::int16_t>(count_));
  return true;
}

}  // namespace tarvi::settings
