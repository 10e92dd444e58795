// The account page: the rows of the account list, the editor's fields and
// the add, edit and delete actions, each written to the store at once.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "common/settings.h"
#include "common/store.h"
#include "common/text.h"

namespace tarvi::settings {

struct AccountRow {
  Text name;   // name "(" host ")"
  Text check;  // "○" or "×"
  std::int32_t foreColor;
  std::int32_t backColor;

  bool operator==(const AccountRow&) const = default;
};

AccountRow accountRow(const AccountSettings& a);

// Column widths of the list in twips: the name column narrows when 20 or
// more rows make the list scroll.
struct AccountColumns {
  int name;
  int check;
};
AccountColumns accountColumns(int accountCount);

// The editor's controls as texts and states.
struct AccountForm {
  Text name, host, port = u"110", user, password;
  bool check = true;
  std::int32_t foreColor = 0;
  std::int32_t backColor = kDefaultBackColor;
  int soundMode = 0;  // 0 common, 1 own, 2 none
  Text sound;
  int tlsMode = kPlain;  // a TlsMode
  Text tlsPin;           // set by the connection test when the user accepts a certificate
  Text tlsPinFor;        // ...for the host, port and mode it tested (pinBinding)
  int protocol = kPop3;  // a MailProtocol, never kProtocolDamaged
  Text folder = u"INBOX";  // IMAP only; empty stands for INBOX
  bool pushIdle = true;    // IMAP only
  bool unseenOnly = true;  // IMAP only
  int signIn = kPasswordSignIn;  // a SignIn
  Text authorizeUrl, tokenUrl, scope;  // kOtherSignIn only
  Text clientId;                       // token sign-in; empty: the build's own
  Text refreshToken;  // set by a sign-in; stored with the account at OK

  bool operator==(const AccountForm&) const = default;
};

AccountForm accountForm(const AccountSettings& a);

// The sign-in methods in the order of the editor's box, by SignIn.
inline constexpr const char16_t* kSignInMethods[] = {u"ﾊﾟｽﾜｰﾄﾞ", u"Microsoft", u"Google", u"その他"};
// What the editor says of the form's sign-in: "" for an account that signs
// in with its password.
Text signInStatus(const AccountForm& form);
inline constexpr const char16_t* kForgetQuestion =
    u"ｱｶｳﾝﾄのﾊﾟｽﾜｰﾄﾞとｻｲﾝｲﾝ情報を削除します\r\nよろしいですか？";
// The password and the sign-in gone from the form (the editor's OK stores it).
void forgetCredentials(AccountForm& form);
// A store that kept the account but not its secret: the system refused to
// protect it.
inline constexpr const char16_t* kSecretNotStored =
    u"ﾊﾟｽﾜｰﾄﾞまたはｻｲﾝｲﾝ情報を保護できなかったため、保存していません。入力し直してください";

// The port box after the user chose TLS mode `mode` for `protocol`: SSL/TLS
// moves the protocol's plain port (POP3 110, IMAP 143) to its TLS port
// (995, 993), plain moves it back; any other port (one the user typed)
// stays.
Text portForTlsMode(TextView port, int mode, int protocol);
// The port box after the user chose `protocol`: the other protocol's plain
// and TLS ports become this one's; any other port stays.
Text portForProtocol(TextView port, int protocol);

// The record the editor's OK stores: an empty name becomes user "@" host;
// a pin goes only with the host, port and mode it was accepted for; a POP3
// account keeps none of the IMAP fields, so it is stored as before IMAP; an
// account that signs in with its password keeps none of the token fields,
// and one that signs in with a token keeps no password.
// nullopt while the port is not a whole number 1..32767.
std::optional<AccountSettings> accountFromForm(const AccountForm& form);

// Why the editor cannot store or test the form as it is, "" when it can:
// a user name or password with a character the logon cannot send (the
// server would get '?' for it, every check would fail, and a provider may
// lock the account); for a token sign-in, signInProblem's text (no client
// id, an endpoint that is not https), which would otherwise only show at
// the logon.
Text accountFormProblem(const AccountForm& form);

// The editor's OK: usable while the host is not empty (an edited account
// may keep an empty host until the host box is changed) and the port is
// valid.
class EditorGate {
 public:
  explicit EditorGate(bool editing) : hostOk_(editing) {}
  void hostChanged(TextView host) { hostOk_ = !host.empty(); }
  void portChanged(TextView port);
  bool okEnabled() const { return hostOk_ && portOk_; }

 private:
  bool hostOk_;
  bool portOk_ = true;
};

// The stored accounts 1..count() over the settings store; `secrets`
// protects the passwords and sign-ins (without it they are stored as by
// earlier versions).
class AccountList {
 public:
  explicit AccountList(SettingsStore& store, SecretKeeper* secrets = nullptr);

  int count() const { return count_; }
  // True for a row that holds an account (rows count from 1).
  bool isAccountRow(int row) const { return row >= 1 && row <= count_; }
  AccountSettings load(int n) const;
  std::vector<AccountRow> rows() const;

  // Stores a new account as number count()+1 and the new count; its number.
  int add(const AccountSettings& a);
  // Rewrites account n; false (nothing written) for a row without account.
  bool edit(int n, const AccountSettings& a);
  // Moves every later account one number down and lowers the count; the
  // keys of the former last number stay but are no longer read.
  bool remove(int n);
  // False when the last add or edit stored the account without a secret
  // the system refused to protect.
  bool secretsStored() const { return secretsStored_; }

 private:
  bool save(int n, const AccountSettings& a);

  SettingsStore& store_;
  SecretKeeper* secrets_;
  int count_;
  bool secretsStored_ = true;
};

}  // namespace tarvi::settings
