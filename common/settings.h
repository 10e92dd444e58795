// Every setting the two programs keep: its key, width and default, and the
// in-memory records. Readers and writers are driven by these tables.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "common/secrets.h"
#include "common/store.h"
#include "common/text.h"

namespace tarvi {

// Flag: stored as a 16-bit number, on when it is not 0.
enum class Width { Int16, Int32, Text, Flag };

struct KeyDef {
  Text name;
  Width width;
  Text fallback;  // the default every reader passes
  // Left out of the store while it holds its default and the store has no
  // value for it yet: keys added later keep the records of accounts that do
  // not use them as they were. Once stored, the key is always rewritten,
  // so that a number reused by another account cannot keep a stale value.
  bool writtenWhenSet = false;
};

constexpr int kHotkeyCount = 8;
constexpr int kGridColumns = 6;
inline constexpr std::array<std::int16_t, kGridColumns> kDefaultGridWidths = {260, 260, 130,
                                                                            2740, 4770, 300};
constexpr std::int32_t kDefaultBackColor = 16777088;  // 0xFFFF80

struct GeneralSettings {
  std::int16_t accountCount = 0;
  bool popupOnNewMail = false;
  bool soundOnNewMail = false;
  bool suppressErrorBoxes = true;
  bool blinkLamp = true;
  bool checkAtStartup = false;
  bool reportOnlyChanges = false;  // only a mailbox whose count or size changed
  bool quitWithoutAsking = false;
  bool keepSessionLog = false;
  bool newestFirst = false;  // the popup lists each account newest first
  bool skipChecksOffline = false;
  bool hangUpAfterCheck = false;
  bool stayOnlineWithNewMail = false;  // ...but not when new mail was found
  // Every MIME charset and transfer encoding is decoded; false keeps the
  // decoding of earlier versions, for users who relied on its exact output.
  bool decodeAll = true;
  bool trayIcon = true;  // the monitor's icon in the notification area
  bool balloon = true;   // ...which announces new mail with a balloon
  // Only mail not listed before is asked for (UIDL), pipelined where the
  // server allows, and what was listed is remembered across restarts.
  bool fastCheck = true;
  // The password is also kept scrambled as earlier versions read it, for a
  // user who still runs them; set in the registry only.
  bool legacyPassword = false;
  // New mail found while Windows says the user must not be disturbed (a
  // full-screen program, a presentation, quiet hours) is announced without
  // sound, and its popup waits; set in the registry only.
  bool quiet = true;
  std::int16_t checkIntervalMinutes = 0;  // 0: no periodic check
  std::int16_t popupCloseSeconds = 0;     // 0: the popup stays
  std::int16_t sessionLimitMinutes = 1;   // 0: no limit
  std::int16_t blinkSeconds = 5;          // 0: until stopped
  std::array<Text, 2> mailerPaths;        // mail programs 1 and 2
  Text soundFile;                         // the common sound
  std::int16_t dialEntryPosition = 0;     // settings program only
  std::int16_t redialCount = 0;           // settings program only
  std::array<std::int16_t, kHotkeyCount> hotkeys = {113, 114, 115, 116, 117, 118, 119, 120};
  std::array<std::int16_t, kGridColumns> columnWidths = kDefaultGridWidths;  // twips
  std::int16_t popupWidth = 8730;   // twips
  std::int16_t popupHeight = 4710;  // twips

  bool operator==(const GeneralSettings&) const = default;
};

// How an account's connection is secured. A stored mode that is no mode
// at all (damaged, or written by something else) reads as kTlsDamaged:
// such an account is never connected, let alone in plain text.
enum TlsMode : std::int16_t { kTlsDamaged = -1, kPlain = 0, kImplicitTls = 1, kStartTls = 2 };

// What an account's server speaks. A stored protocol that is none of these
// reads as kProtocolDamaged: such an account is reported, never connected.
enum MailProtocol : std::int16_t { kProtocolDamaged = -1, kPop3 = 0, kImap = 1 };

// How an account signs in: its password, or a token from a provider
// (OAuth 2.0), Microsoft's, Google's or one whose endpoints it names.
enum SignIn : std::int16_t { kPasswordSignIn = 0, kMicrosoftSignIn = 1, kGoogleSignIn = 2, kOtherSignIn = 3 };

// How an account announces new mail.
enum SoundMode : std::int16_t { kCommonSound = 0, kOwnSound = 1, kNoSound = 2 };

struct AccountSettings {
  Text name;
  Text host;
  std::int16_t port = 110;
  Text user;
  Text password;  // the plain password; only the stored form is scrambled
  bool checked = true;  // false: the check cycle passes it over
  std::int32_t textColor = 0;
  std::int32_t backColor = kDefaultBackColor;
  std::int16_t soundMode = kCommonSound;
  Text soundFile;  // the account's own sound
  std::int16_t tlsMode = 0;  // a TlsMode
  Text tlsPin;  // SHA-256 of a certificate the user accepted, hex; "" = none
  // What the pin was accepted for (pinBinding of host, port and mode); a
  // pin counts only while the account still stands for that.
  Text tlsPinFor;
  std::int16_t protocol = kPop3;  // a MailProtocol
  Text folder = u"INBOX";         // IMAP: the folder checked
  bool pushIdle = true;           // IMAP: told of new mail at once (IDLE) where offered
  bool unseenOnly = true;         // IMAP: only messages without \Seen are listed
  std::int16_t signIn = kPasswordSignIn;  // a SignIn
  Text oauthAuthorizeUrl, oauthTokenUrl, oauthScope;  // kOtherSignIn: the provider
  Text oauthClient;  // the client id, where not the build's own for the provider
  // The refresh token of a signed-in account, plain in memory; stored
  // protected by the system (Oauthrefresh), never in the clear.
  Text refreshToken;

  // Not stored: read off the stored secrets, or set while the monitor runs.
  // A protected password or token that did not unprotect (another user,
  // another machine, damaged): the account sends nothing until the user
  // enters it again.
  bool passwordUnreadable = false;
  bool refreshUnreadable = false;
  // The access token the logon sends, held only in memory (the monitor's).
  std::string accessToken;

  bool operator==(const AccountSettings&) const = default;
};

// A reference to the field a key is read into or written from.
using FieldRef = std::variant<std::int16_t*, std::int32_t*, Text*, bool*>;

// The general keys fall into groups that are written on their own.
enum class KeyGroup { AccountCount, Options, Timers, Paths, Hotkeys, ColumnWidths, PopupSize, Dialup, Account };

struct BoundKey {
  KeyDef def;
  FieldRef field;
  KeyGroup group = KeyGroup::Account;
};

// The general keys in the monitor's reading order (accountno first, ...,
// frmWidth, frmHeight), bound to the fields of `s`. Defdialno and Redialval
// come last: only the settings program reads them.
std::vector<BoundKey> generalKeys(GeneralSettings& s);
// Only the keys of one group, in the same order.
std::vector<BoundKey> generalKeys(GeneralSettings& s, KeyGroup group);

// Writes each key from its field: texts through saveValue, numbers and
// flags as decimal text; a key marked writtenWhenSet only as it says.
void writeKeys(SettingsStore& store, const std::vector<BoundKey>& keys);

void writeAccountCount(SettingsStore& store, std::int16_t count);

// The stored name of account n ("" when there is none).
Text accountName(const SettingsStore& store, int n);

// The keys of account n in their writing order, bound to `a`; the
// protected secrets (Passwp, Oauthrefresh), which are no fields of `a`,
// are read and written by loadAccount and saveAccount only.
std::vector<BoundKey> accountKeys(int n, AccountSettings& a);

// The whole schema, for tests and tools: every general key and the
// account prefixes (with an empty number).
std::vector<KeyDef> schema();

// Reads one key into its field. Returns false, leaving the field unchanged,
// when the stored text does not convert to the field's width.
bool readKey(const SettingsStore& store, const BoundKey& key);

// The value writer of the settings program: `text` when it is not empty,
// else the decimal text of `number`. The three path keys keep an empty text.
void saveValue(SettingsStore& store, const Text& key, std::int32_t number, const Text& text);

// Account records as the settings program keeps them.
void clearAccount(AccountSettings& a);
// Reads account n into `a`. A value that does not convert leaves the field
// as it was, except the TLS mode: one that does not read as a mode becomes
// kTlsDamaged.
// `secrets` unprotects the stored password and refresh token; without it
// only the scrambled password of earlier versions is read.
void loadAccount(const SettingsStore& store, int n, AccountSettings& a, SecretKeeper* secrets = nullptr);
// The stored forms of an account read key by key made plain: the password
// unscrambled, an empty pin's "0" emptied.
void decodeStoredAccount(AccountSettings& a);
// The password and the refresh token are stored protected by `secrets`;
// the scrambled form of earlier versions only while `legacyPassword`.
// Without `secrets`, the password is stored scrambled as ever. False when
// the system refused to protect a secret: that one is not stored at all.
bool saveAccount(SettingsStore& store, int n, const AccountSettings& a, SecretKeeper* secrets = nullptr,
                 bool legacyPassword = false);
// Stores only account n's refresh token (a sign-in that completed).
void saveRefreshToken(SettingsStore& store, int n, const Text& token, SecretKeeper& secrets);

}  // namespace tarvi
