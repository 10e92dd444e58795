#include "common/settings.h"

#include <algorithm>
#include <optional>

#include "common/base64.h"
#include "common/scramble.h"

namespace tarvi {
namespace {

Text num(std::int64_t v) { return decimal(v); }

BoundKey i16(const char* name, std::int16_t& f, std::int16_t def) {
  return {{ascii(name), Width::Int16, num(def)}, &f};
}

BoundKey in(BoundKey k, KeyGroup g) {
  k.group = g;
  return k;
}

BoundKey flag(const char* name, bool& f, bool def) {
  return {{ascii(name), Width::Flag, def ? u"1" : u"0"}, &f};
}

BoundKey whenSet(BoundKey k) {
  k.def.writtenWhenSet = true;
  return k;
}

bool keepsEmptyText(const Text& key) {
  return key == u"Mailerdir1" || key == u"Mailerdir2" || key == u"Wavdir";
}

// What saveValue stores.
Text storedValue(const Text& key, std::int32_t number, const Text& text) {
  return !text.empty() || keepsEmptyText(key) ? text : decimal(number);
}

// What writeKeys stores for a key: its field's value in the stored form.
Text storedValue(const BoundKey& k) {
  if (auto* t = std::get_if<Text*>(&k.field)) return storedValue(k.def.name, 0, **t);
  if (auto* n = std::get_if<std::int16_t*>(&k.field)) return storedValue(k.def.name, **n, u"");
  if (auto* b = std::get_if<bool*>(&k.field)) return storedValue(k.def.name, **b ? 1 : 0, u"");
  // 32-bit values (the colours) go in directly as decimal text
  return decimal(*std::get<std::int32_t*>(k.field));
}

}  // namespace

std::vector<BoundKey> generalKeys(GeneralSettings& s) {
  const GeneralSettings d;  // defaults
  using G = KeyGroup;
  std::vector<BoundKey> k = {
      in(i16("accountno", s.accountCount, d.accountCount), G::AccountCount),
      in(flag("Option1value", s.popupOnNewMail, d.popupOnNewMail), G::Options),
      in(flag("Option2value", s.soundOnNewMail, d.soundOnNewMail), G::Options),
      in(flag("Option3value", s.suppressErrorBoxes, d.suppressErrorBoxes), G::Options),
      in(flag("Option4value", s.blinkLamp, d.blinkLamp), G::Options),
      in(flag("Option5value", s.checkAtStartup, d.checkAtStartup), G::Options),
      in(flag("Option6value", s.reportOnlyChanges, d.reportOnlyChanges), G::Options),
      in(flag("Option7value", s.quitWithoutAsking, d.quitWithoutAsking), G::Options),
      in(flag("Option8value", s.keepSessionLog, d.keepSessionLog), G::Options),
      in(flag("Option9value", s.newestFirst, d.newestFirst), G::Options),
      in(flag("Option10value", s.skipChecksOffline, d.skipChecksOffline), G::Options),
      in(flag("Option11value", s.hangUpAfterCheck, d.hangUpAfterCheck), G::Options),
      in(flag("sOption11value", s.stayOnlineWithNewMail, d.stayOnlineWithNewMail), G::Options),
      in(flag("Decodeall", s.decodeAll, d.decodeAll), G::Options),
      in(flag("Trayicon", s.trayIcon, d.trayIcon), G::Options),
      in(flag("Balloon", s.balloon, d.balloon), G::Options),
      in(flag("Fastcheck", s.fastCheck, d.fastCheck), G::Options),
      in(whenSet(flag("Legacypw", s.legacyPassword, d.legacyPassword)), G::Options),
      in(whenSet(flag("Quiet", s.quiet, d.quiet)), G::Options),
      in(i16("Checktimerval", s.checkIntervalMinutes, d.checkIntervalMinutes), G::Timers),
      in(i16("Closetimerval", s.popupCloseSeconds, d.popupCloseSeconds), G::Timers),
      in(i16("Timeupval", s.sessionLimitMinutes, d.sessionLimitMinutes), G::Timers),
      in(i16("Lighttimerval", s.blinkSeconds, d.blinkSeconds), G::Timers),
      {{u"Mailerdir1", Width::Text, u""}, &s.mailerPaths[0], G::Paths},
      {{u"Mailerdir2", Width::Text, u""}, &s.mailerPaths[1], G::Paths},
      {{u"Wavdir", Width::Text, u""}, &s.soundFile, G::Paths},
  };
  for (int i = 0; i < kHotkeyCount; ++i)
    k.push_back({{u"Hotkeynum" + decimal(i), Width::Int16, num(113 + i)}, &s.hotkeys[i], G::Hotkeys});
  for (int i = 0; i < kGridColumns; ++i)
    k.push_back({{u"grdWidth" + decimal(i), Width::Int16, num(kDefaultGridWidths[i])},
                 &s.columnWidths[i], G::ColumnWidths});
  k.push_back(in(i16("frmWidth", s.popupWidth, d.popupWidth), G::PopupSize));
  k.push_back(in(i16("frmHeight", s.popupHeight, d.popupHeight), G::PopupSize));
  k.push_back(in(i16("Defdialno", s.dialEntryPosition, d.dialEntryPosition), G::Dialup));
  k.push_back(in(i16("Redialval", s.redialCount, d.redialCount), G::Dialup));
  return k;
}

std::vector<BoundKey> generalKeys(GeneralSettings& s, KeyGroup group) {
  std::vector<BoundKey> out;
  for (auto& k : generalKeys(s))
    if (k.group == group) out.push_back(std::move(k));
  return out;
}

void writeKeys(SettingsStore& store, const std::vector<BoundKey>& keys) {
  for (const auto& k : keys) {
    const Text value = storedValue(k);
    // An empty text is stored as "0"; at its default it is still not set.
    const auto* text = std::get_if<Text*>(&k.field);
    const bool atDefault = text ? **text == k.def.fallback : value == k.def.fallback;
    if (k.def.writtenWhenSet && atDefault && !store.get(k.def.name)) continue;
    store.put(k.def.name, value);
  }
}

void writeAccountCount(SettingsStore& store, std::int16_t count) {
  GeneralSettings s;
  s.accountCount = count;
  writeKeys(store, generalKeys(s, KeyGroup::AccountCount));
}

Text accountName(const SettingsStore& store, int n) {
  AccountSettings a;
  readKey(store, accountKeys(n, a)[0]);
  return a.name;
}

namespace {

// The protected forms of an account's secrets as stored: Base64 of the
// system's blobs, "" (or "0") for none.
struct StoredSecrets {
  Text password, refreshToken;
};

std::vector<BoundKey> storedAccountKeys(int n, AccountSettings& a, StoredSecrets* secrets) {
  const Text sfx = decimal(n);
  const AccountSettings d;
  std::vector<BoundKey> keys = {
      {{u"Aname" + sfx, Width::Text, u""}, &a.name},
      {{u"Hname" + sfx, Width::Text, u""}, &a.host},
      {{u"Portno" + sfx, Width::Int16, num(d.port)}, &a.port},
      {{u"Uname" + sfx, Width::Text, u""}, &a.user},
      {{u"Passw" + sfx, Width::Text, u""}, &a.password},
      {{u"Check" + sfx, Width::Flag, u"1"}, &a.checked},
      {{u"Scolor1" + sfx, Width::Int32, num(d.textColor)}, &a.textColor},
      {{u"Scolor2" + sfx, Width::Int32, num(d.backColor)}, &a.backColor},
      {{u"Wavmode" + sfx, Width::Int16, num(d.soundMode)}, &a.soundMode},
      {{u"Wavdir2_" + sfx, Width::Text, u""}, &a.soundFile},
      {{u"Tlsmode" + sfx, Width::Int16, num(d.tlsMode)}, &a.tlsMode},
      {{u"Tlspin" + sfx, Width::Text, u""}, &a.tlsPin},
      {{u"Tlspinfor" + sfx, Width::Text, u""}, &a.tlsPinFor},
      // Added with IMAP: a POP3 account is stored as before IMAP was known.
      whenSet({{u"Protocol" + sfx, Width::Int16, num(d.protocol)}, &a.protocol}),
      whenSet({{u"Folder" + sfx, Width::Text, d.folder}, &a.folder}),
      whenSet({{u"Idle" + sfx, Width::Flag, u"1"}, &a.pushIdle}),
      whenSet({{u"Unseenonly" + sfx, Width::Flag, u"1"}, &a.unseenOnly}),
      // Added with sign-in: an account signed in with its password is
      // stored as before.
      whenSet({{u"Auth" + sfx, Width::Int16, num(d.signIn)}, &a.signIn}),
      whenSet({{u"Oauthauthurl" + sfx, Width::Text, u""}, &a.oauthAuthorizeUrl}),
      whenSet({{u"Oauthtokenurl" + sfx, Width::Text, u""}, &a.oauthTokenUrl}),
      whenSet({{u"Oauthscope" + sfx, Width::Text, u""}, &a.oauthScope}),
      whenSet({{u"Oauthclient" + sfx, Width::Text, u""}, &a.oauthClient}),
  };
  if (secrets) {
    // Added with the system's protection: an account stored by an earlier
    // version has only its scrambled Passw.
    keys.push_back(whenSet({{u"Passwp" + sfx, Width::Text, u""}, &secrets->password}));
    keys.push_back(whenSet({{u"Oauthrefresh" + sfx, Width::Text, u""}, &secrets->refreshToken}));
  }
  return keys;
}

int base64Digit(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Strict: whole groups of four, "=" only as padding at the end.
std::optional<std::string> decodeBase64Strict(std::string_view in) {
  if (in.empty() || in.size() % 4 != 0) return std::nullopt;
  std::string out;
  for (std::size_t i = 0; i < in.size(); i += 4) {
    const bool last = i + 4 == in.size();
    const int pad = last ? (in[i + 3] == '=') + (in[i + 2] == '=' && in[i + 3] == '=') : 0;
    unsigned v = 0;
    for (int k = 0; k < 4; ++k) {
      const int digit = k >= 4 - pad ? 0 : base64Digit(in[i + static_cast<std::size_t>(k)]);
      if (digit < 0) return std::nullopt;
      v = v << 6 | static_cast<unsigned>(digit);
    }
    for (int k = 0; k < 3 - pad; ++k) out += static_cast<char>((v >> (16 - 8 * k)) & 0xFF);
  }
  return out;
}

bool holdsSecret(const Text& stored) { return !stored.empty() && stored != u"0"; }

// The plain secret of a stored blob; nullopt when it cannot be had.
std::optional<Text> reveal(const Text& stored, SecretKeeper* secrets) {
  if (!secrets) return std::nullopt;
  const std::string encoded = toUtf8(stored);
  auto blob = decodeBase64Strict(encoded);
  if (!blob) return std::nullopt;
  auto plain = secrets->unprotect(*blob);
  if (!plain) return std::nullopt;
  Text text = fromUtf8(*plain);
  std::fill(plain->begin(), plain->end(), '\0');
  return text;
}

// The stored form of a secret: "" for none, nullopt when the system
// refuses to protect it.
std::optional<Text> conceal(const Text& plain, SecretKeeper& secrets) {
  if (plain.empty()) return Text();
  std::string bytes = toUtf8(plain);
  auto blob = secrets.protect(bytes);
  std::fill(bytes.begin(), bytes.end(), '\0');
  if (!blob) return std::nullopt;
  return ascii(encodeBase64(*blob));
}

}  // namespace

std::vector<BoundKey> accountKeys(int n, AccountSettings& a) { return storedAccountKeys(n, a, nullptr); }

std::vector<KeyDef> schema() {
  GeneralSettings g;
  AccountSettings a;
  StoredSecrets secrets;
  std::vector<KeyDef> out;
  for (auto& k : generalKeys(g)) out.push_back(k.def);
  for (auto& k : storedAccountKeys(0, a, &secrets)) {
    KeyDef d = k.def;
    d.name.pop_back();  // drop the "0": the prefix alone
    out.push_back(d);
  }
  return out;
}

bool readKey(const SettingsStore& store, const BoundKey& key) {
  const Text v = store.read(key.def.name, key.def.fallback);
  if (auto* p = std::get_if<Text*>(&key.field)) {
    **p = v;
    return true;
  }
  if (auto* p = std::get_if<std::int16_t*>(&key.field)) {
    auto n = parseInt16(v);
    if (!n) return false;
    **p = *n;
    return true;
  }
  if (auto* p = std::get_if<bool*>(&key.field)) {
    auto n = parseInt16(v);
    if (!n) return false;
    **p = *n != 0;
    return true;
  }
  auto n = parseInt32(v);
  if (!n) return false;
  *std::get<std::int32_t*>(key.field) = *n;
  return true;
}

void saveValue(SettingsStore& store, const Text& key, std::int32_t number, const Text& text) {
  store.put(key, storedValue(key, number, text));
}

void clearAccount(AccountSettings& a) { a = AccountSettings{}; }

void loadAccount(const SettingsStore& store, int n, AccountSettings& a, SecretKeeper* secrets) {
  StoredSecrets stored;
  for (const auto& k : storedAccountKeys(n, a, &stored)) {
    const bool read = readKey(store, k);
    // Keeping whatever the field held (a default, another account's mode)
    // could mean plain text for an account that asked for TLS.
    if (auto* field = std::get_if<std::int16_t*>(&k.field); field && !read) {
      if (*field == &a.tlsMode) a.tlsMode = kTlsDamaged;
      if (*field == &a.protocol) a.protocol = kProtocolDamaged;
    }
  }
  if (a.tlsMode != kPlain && a.tlsMode != kImplicitTls && a.tlsMode != kStartTls) a.tlsMode = kTlsDamaged;
  if (a.protocol != kPop3 && a.protocol != kImap) a.protocol = kProtocolDamaged;
  decodeStoredAccount(a);
  // A protected password stands alone: one that does not unprotect never
  // gives way to a scrambled one, which may be older.
  a.passwordUnreadable = false;
  if (holdsSecret(stored.password)) {
    auto plain = reveal(stored.password, secrets);
    a.password = plain.value_or(Text());
    a.passwordUnreadable = !plain;
  }
  a.refreshToken.clear();
  a.refreshUnreadable = false;
  if (holdsSecret(stored.refreshToken)) {
    auto plain = reveal(stored.refreshToken, secrets);
    a.refreshToken = plain.value_or(Text());
    a.refreshUnreadable = !plain;
  }
}

void decodeStoredAccount(AccountSettings& a) {
  a.password = a.password.empty() ? Text() : unscramblePass(a.password);
  // An empty text is stored as "0"; no fingerprint or host reads so.
  if (a.tlsPin == u"0") a.tlsPin.clear();
  if (a.tlsPinFor == u"0") a.tlsPinFor.clear();
  for (Text* t : {&a.oauthAuthorizeUrl, &a.oauthTokenUrl, &a.oauthScope, &a.oauthClient})
    if (*t == u"0") t->clear();
}

bool saveAccount(SettingsStore& store, int n, const AccountSettings& a, SecretKeeper* secrets,
                 bool legacyPassword) {
  AccountSettings copy = a;
  if (!secrets) {
    copy.password = scramblePass(a.password);
    writeKeys(store, accountKeys(n, copy));
    return true;
  }
  // A secret the system refuses to protect is not stored at all, rather
  // than in a form anyone can read.
  const auto password = conceal(a.password, *secrets);
  const auto refresh = conceal(a.refreshToken, *secrets);
  StoredSecrets stored{password.value_or(Text()), refresh.value_or(Text())};
  // Earlier versions read only Passw: it holds the scrambled password only
  // for a user who goes on using them, else nothing.
  copy.password = legacyPassword && password ? scramblePass(a.password) : Text();
  copy.refreshToken.clear();
  writeKeys(store, storedAccountKeys(n, copy, &stored));
  return password && refresh;
}

void saveRefreshToken(SettingsStore& store, int n, const Text& token, SecretKeeper& secrets) {
  auto concealed = conceal(token, secrets);
  if (!concealed) return;  // the token stored before stays: never a plain one
  AccountSettings a;
  StoredSecrets stored{Text(), *concealed};
  writeKeys(store, {storedAccountKeys(n, a, &stored).back()});  // Oauthrefresh
}

}  // namespace tarvi
