// Every setting the two programs keep: its key, width and default, and the
// in-memory records. Readers and writers are driven by these tables.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <variant>
#include <vector>

#include "common/store.h"
#include "common/text.h"

namespace tarvi {

enum class Width { Int16, Int32, Text };

struct KeyDef {
  Text name;
  Width width;
  Text fallback;  // the default every reader passes
};

constexpr int kHotkeyCount = 8;
constexpr int kGridColumns = 6;
inline constexpr std::array<std::int16_t, kGridColumns> kDefaultGridWidths = {260, 260, 130,
                                                                            2740, 4770, 300};
constexpr std::int32_t kDefaultBackColor = 16777088;  // 0xFFFF80

struct GeneralSettings {
  std::int16_t accountno = 0;
  std::int16_t Option1value = 0;
  std::int16_t Option2value = 0;
  std::int16_t Option3value = 1;
  std::int16_t Option4value = 1;
  std::int16_t Option5value = 0;
  std::int16_t Option6value = 0;
  std::int16_t Option7value = 0;
  std::int16_t Option8value = 0;
  std::int16_t Option9value = 0;
  std::int16_t Option10value = 0;
  std::int16_t Option11value = 0;
  std::int16_t sOption11value = 0;
  std::int16_t Checktimerval = 0;
  std::int16_t Closetimerval = 0;
  std::int16_t Timeupval = 1;
  std::int16_t Lighttimerval = 5;
  std::array<Text, 3> Mailerdir;  // indexed 1..2; [0] unused
  Text Wavdir;
  std::int16_t Defdialno = 0;     // settings program only
  std::int16_t Redialval = 0;     // settings program only
  std::array<std::int16_t, kHotkeyCount> Hotkeynum = {113, 114, 115, 116, 117, 118, 119, 120};
  std::array<std::int16_t, kGridColumns> grdWidth = kDefaultGridWidths;
  std::int16_t frmWidth = 8730;
  std::int16_t frmHeight = 4710;

  bool operator==(const GeneralSettings&) const = default;
};

struct AccountSettings {
  Text Aname;
  Text Hname;
  std::int16_t Portno = 110;
  Text Uname;
  Text Passw;  // the plain password; only the stored form is scrambled
  std::int16_t Check = 1;
  std::int32_t Scolor1 = 0;
  std::int32_t Scolor2 = kDefaultBackColor;
  std::int16_t Wavmode = 0;
  Text Wavdir2_;

  bool operator==(const AccountSettings&) const = default;
};

// A reference to the field a key is read into or written from.
using FieldRef = std::variant<std::int16_t*, std::int32_t*, Text*>;

struct BoundKey {
  KeyDef def;
  FieldRef field;
};

// The general keys in the monitor's reading order (accountno first, ...,
// frmWidth, frmHeight), bound to the fields of `s`. Defdialno and Redialval
// come last: only the settings program reads them.
std::vector<BoundKey> generalKeys(GeneralSettings& s);

// The ten keys of account n in their writing order, bound to `a`.
std::vector<BoundKey> accountKeys(int n, AccountSettings& a);

// The whole schema, for tests and tools: every general key and the ten
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
void loadAccount(const SettingsStore& store, int n, AccountSettings& a);
void saveAccount(SettingsStore& store, int n, const AccountSettings& a);

}  // namespace tarvi
