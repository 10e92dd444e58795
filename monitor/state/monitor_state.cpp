#include "monitor/state/monitor_state.h"

#include <algorithm>

#include "common/kept_list_name.h"


namespace tarvi {

void AccountTable::resize(int accounts) {
  const auto n = static_cast<std::size_t>(std::max(accounts, 0));
  const std::size_t old = records_.size();
  records_.resize(n);
  for (std::size_t i = old; i < n; ++i) records_[i].mail.clear();
}

AccountState* AccountTable::find(int n) {
  if (n < 1 || n > count()) return nullptr;
  return &records_[static_cast<std::size_t>(n - 1)];
}

const AccountState* AccountTable::find(int n) const {
  return const_cast<AccountTable*>(this)->find(n);
}

void AccountState::resetListing() {
  newMail = false;
  lastCount = 0;
  lastSize = 0;
  shownCount = 0;
  mail.clear();
  listedIdentity.clear();
  quietNextCheck = false;
  exactNew = false;
  uidValidity = 0;
  listedUids.clear();
}

int nextMarked(const AccountTable& accounts, int a, int after) {
  const AccountState* r = accounts.find(a);
  if (!r) return 0;
  for (int m = after + 1; m <= r->mail.size(); ++m)
    if (r->mail.find(m)->marked) return m;
  return 0;
}

int nextRetrieveTarget(const AccountTable& accounts, int a, int after) {
  const AccountState* r = accounts.find(a);
  if (!r) return 0;
  for (int m = after + 1; m <= r->mail.size(); ++m) {
    const MailItem* item = r->mail.find(m);
    if (item->marked && item->body.empty()) return m;
  }
  return 0;
}

Text accountIdentity(const AccountSettings& a) { return mailboxIdentity(a); }

void AccountTable::resetListings() {
  for (auto& r : records_) r.resetListing();
}

void AccountTable::clearMarks() {
  for (auto& r : records_)
    for (int m = 1; m <= r.mail.size(); ++m) r.mail.find(m)->marked = false;
}

bool AccountTable::anyNewMail() const {
  return std::any_of(records_.begin(), records_.end(), [](const AccountState& r) { return r.newMail; });
}

void AccountTable::clearNewMail() {
  for (auto& r : records_) r.newMail = false;
}

bool MonitorState::loadOptions(const SettingsStore& store) {
  auto keys = generalKeys(options);
  for (const auto& k : keys) {
    // The dial-up choices are read where they are used.
    if (k.group == KeyGroup::Dialup) continue;
    if (!readKey(store, k)) return false;
    // Exactly one record per account: a record left over from an account
    // that went away could still sound or be listed.
    if (k.group == KeyGroup::AccountCount) accounts.resize(options.accountCount);
  }
  return true;
}

void MonitorState::loadAccount(const SettingsStore& store, int n) {
  if (n < 1) return;
  if (n > accounts.count()) accounts.resize(n);
  AccountState& r = *accounts.find(n);
  // The login fields start from the defaults, never from the account read
  // before: a value that does not convert must not give this account
  // another one's server, user or TLS mode.
  AccountSettings a;
  a.textColor = r.textColor;
  a.backColor = r.backColor;
  a.soundMode = r.soundMode;
  a.soundFile = r.soundFile;
  tarvi::loadAccount(store, n, a, secrets);
  r.textColor = a.textColor;
  r.backColor = a.backColor;
  r.soundMode = a.soundMode;
  r.soundFile = a.soundFile;
  r.identity = accountIdentity(a);
  current = a;
}

}  // namespace tarvi
