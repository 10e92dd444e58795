// The monitor's copy of the settings and one record per account: what the
// check cycle, the runs, the popup and the alerts keep about each account
// between sessions.
#pragma once

#include <cstdint>
#include <vector>

#include "common/settings.h"
#include "common/store.h"
#include "monitor/mail/mail_list.h"

namespace tarvi {

struct AccountState {
  // From the account's settings, read when the cycle reaches the account.
  std::int32_t textColor = 0;
  std::int32_t backColor = kDefaultBackColor;
  std::int16_t soundMode = kCommonSound;
  Text soundFile;
  // What the last check found. Counts are kept wider than the 16 bits they
  // were once held in, so that no mailbox size or sum can wrap.
  bool newMail = false;
  std::int64_t lastCount = 0;
  std::int64_t lastSize = 0;
  // How many of the account's messages the popup listed last time.
  std::int16_t shownCount = 0;
  MessageList mail;
  // The server and user the account stands for now, and those its mail
  // was listed from: mail is only ever retrieved or deleted where it was
  // listed.
  Text identity;
  Text listedIdentity;
  // A delete run changed this mailbox: the check that follows does not
  // announce it as new.
  bool quietNextCheck = false;
  // The last check listed by unique ids: "N" marks the messages whose id
  // it had never seen (MailItem::unseen), not those past the count.
  bool exactNew = false;
  // IMAP: the folder's UIDVALIDITY the list was made under, and the UIDs
  // listed under it (sorted), shown or not, so that only a UID never listed
  // counts as new.
  std::uint32_t uidValidity = 0;
  std::vector<std::uint32_t> listedUids;

  // Forgets everything listed of the mailbox, its count and size too, so
  // that the next check lists it afresh.
  void resetListing();
};

// The server, port and user of an account, as one text.
Text accountIdentity(const AccountSettings& a);

// Records for accounts 1..count().
class AccountTable {
 public:
  // Exactly `accounts` records afterwards; those that remain keep their
  // contents. New records get an empty mail list.
  void resize(int accounts);
  int count() const { return static_cast<int>(records_.size()); }
  AccountState* find(int n);
  const AccountState* find(int n) const;
  // Every account's listing forgotten.
  void resetListings();
  void clearMarks();
  bool anyNewMail() const;
  void clearNewMail();

 private:
  std::vector<AccountState> records_;
};

// A run found the mailbox other than the list shows: the next check lists
// it again even where its count and size came out the same (another
// client may have renumbered it), so that the user can choose anew; what
// it lists then is no news.
inline void relistQuietly(AccountTable& accounts, int a) {
  if (AccountState* r = accounts.find(a)) {
    r->lastSize = -1;
    r->quietNextCheck = true;
  }
}

// The first message of account a after number `after` that is marked (and,
// for a retrieve run, not yet retrieved); 0 when there is none.
int nextMarked(const AccountTable& accounts, int a, int after);
int nextRetrieveTarget(const AccountTable& accounts, int a, int after);

inline constexpr const char16_t* kPasswordUnreadable =
    u"保存されたﾊﾟｽﾜｰﾄﾞを読み出せませんでした。設定でﾊﾟｽﾜｰﾄﾞを入力し直してください";

struct MonitorState {
  GeneralSettings options;
  // Unprotects the stored passwords and refresh tokens (the system's).
  SecretKeeper* secrets = nullptr;
  // The account being served: its login fields as last read.
  AccountSettings current;
  AccountTable accounts;

  // Reads the general settings, stopping at the first value that does not
  // convert (false then; the keys after it keep their values). The account
  // records follow the account count as soon as it is known.
  bool loadOptions(const SettingsStore& store);
  // Reads account n into `current` and its record (grown to n if needed).
  // A value that does not convert gives the default for a login field, and
  // keeps the record's previous content for the colours and the sound; a
  // damaged TLS mode reads as kTlsDamaged.
  void loadAccount(const SettingsStore& store, int n);
};

}  // namespace tarvi
