#include "settings/account_list.h"

#include "settings/options_model.h"

namespace tarvi::settings {

AccountRow accountRow(const AccountSettings& a) {
  return {a.Aname + u"(" + a.Hname + u")", a.Check != 0 ? u"○" : u"×", a.Scolor1, a.Scolor2};
}

AccountColumns accountColumns(int accountCount) {
  return {accountCount >= 20 ? 4700 : 4960, 320};
}

AccountForm accountForm(const AccountSettings& a) {
  AccountForm f;
  f.name = a.Aname;
  f.host = a.Hname;
  f.port = decimal(a.Portno);
  f.user = a.Uname;
  f.password = a.Passw;
  f.check = a.Check != 0;
  f.foreColor = a.Scolor1;
  f.backColor = a.Scolor2;
  f.soundMode = (a.Wavmode == 1 || a.Wavmode == 2) ? a.Wavmode : 0;
  f.sound = a.Wavdir2_;
  return f;
}

std::optional<AccountSettings> accountFromForm(const AccountForm& f) {
  auto port = parsePortText(f.port);
  if (!port) return std::nullopt;
  AccountSettings a;
  a.Aname = f.name.empty() ? f.user + u"@" + f.host : f.name;
  a.Hname = f.host;
  a.Portno = *port;
  a.Uname = f.user;
  a.Passw = f.password;
  a.Check = f.check ? 1 : 0;
  a.Scolor1 = f.foreColor;
  a.Scolor2 = f.backColor;
  a.Wavmode = static_cast<std::int16_t>(f.soundMode == 1 || f.soundMode == 2 ? f.soundMode : 0);
  a.Wavdir2_ = f.sound;
  return a;
}

void EditorGate::portChanged(TextView port) { portOk_ = parsePortText(port).has_value(); }

AccountList::AccountList(SettingsStore& store)
    : store_(store), count_(readAccountCount(store)) {}

AccountSettings AccountList::load(int n) const {
  AccountSettings a;
  clearAccount(a);
  loadAccount(store_, n, a);
  return a;
}

std::vector<AccountRow> AccountList::rows() const {
  std::vector<AccountRow> out;
  for (int n = 1; n <= count_; ++n) out.push_back(accountRow(load(n)));
  return out;
}

int AccountList::add(const AccountSettings& a) {
  if (count_ >= INT16_MAX) return 0;  // accountno is 16-bit
  ++count_;
  saveAccount(store_, count_, a);
  saveValue(store_, u"accountno", count_, u"");
  return count_;
}

bool AccountList::edit(int n, const AccountSettings& a) {
  if (!isAccountRow(n)) return false;
  saveAccount(store_, n, a);
  return true;
}

bool AccountList::remove(int n) {
  if (!isAccountRow(n)) return false;
  for (int k = n + 1; k <= count_; ++k) saveAccount(store_, k - 1, load(k));
  --count_;
  saveValue(store_, u"accountno", count_, u"");
  return true;
}

}  // namespace tarvi::settings
