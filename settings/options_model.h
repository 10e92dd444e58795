// What the options dialog shows and stores. The dialog copies its controls
// into an OptionsForm and back; nothing reaches the store before OK, except
// the column-width reset, which is written at once.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "common/settings.h"
#include "common/store.h"
#include "common/text.h"

namespace tarvi::settings {

// Option1 .. option11, soption11, the decoding, the tray icon, the fast
// check, quiet while the user is busy.
constexpr int kCheckBoxes = 16;
constexpr int kTimerBoxes = 4;

// The general page as the user sees it: texts as typed, list positions.
struct OptionsForm {
  std::array<bool, kCheckBoxes> checks{};
  std::array<Text, kTimerBoxes> timers;  // timerbox1..4
  std::array<Text, 2> mailers;           // Mailerbox(1), Mailerbox(2)
  Text wav;
  int dialPosition = -1;  // -1: nothing selected
  Text redial;
  std::array<int, kHotkeyCount> hotkeys{};  // positions in the hotkey lists
  // No box of its own: carried from the store and back, so that a value set
  // with regedit survives OK.
  bool balloon = true;

  bool operator==(const OptionsForm&) const = default;
};

// Which boxes the check boxes leave usable.
struct Enables {
  bool closeTimer;  // timerbox2 follows the popup check box
  bool lampTimer;   // timerbox4 follows the lamp check box
  bool wav;         // Wavbox and its browse button follow the sound check box
};
Enables enablesFor(const OptionsForm& form);

// Unchecking the popup (index 0) or the lamp (index 3) zeroes its timer box;
// the sound check box (index 1) keeps the WAV path.
void applyCheckClick(OptionsForm& form, int checkIndex);

// The stored account count; 0 for an absent or damaged value.
std::int16_t readAccountCount(const SettingsStore& store);

// Reads every general key with its default into a form. A value that does
// not convert keeps the default. `dialCount` is the length of the dial-up
// list, so that a stored position outside it selects nothing.
OptionsForm loadOptions(const SettingsStore& store, int dialCount);

// Timer boxes: a number with blanks around it; a fraction is rounded to the
// nearest whole number (halves to even). Empty, not a number, outside the
// 16-bit range or negative: nullopt.
std::optional<std::int16_t> parseTimerText(TextView text);
// The redial count: a whole number 0..32767.
std::optional<std::int16_t> parseRedialText(TextView text);
// An account's port: a whole number 1..32767.
std::optional<std::int16_t> parsePortText(TextView text);

// Tracks which boxes hold invalid values; OK is usable only when none does.
// Indexes 1..4 are the timer boxes, 5 the redial box.
class OkGate {
 public:
  static constexpr int kRedial = 5;
  // Validates the box's text and returns whether OK is now enabled.
  bool check(int index, TextView text);
  bool okEnabled() const;

 private:
  std::array<bool, 6> err_{};
};

// The form converted for saving; nullopt when a box is invalid. The caller
// supplies the settings not on the page (account count and so on).
std::optional<GeneralSettings> collectOptions(const OptionsForm& form);

// Writes the account count, the fifteen options, the four timers, the three paths,
// Defdialno, Redialval and the eight hotkeys, in this order.
void saveOptions(SettingsStore& store, const GeneralSettings& s, std::int16_t accountCount);

// What OK does: refuses duplicate hotkeys (the caller warns "起動キーが重複
// しています") and invalid boxes without writing anything, else saves.
enum class OkOutcome { Saved, DuplicateHotkeys, InvalidBox };
OkOutcome pressOk(SettingsStore& store, const OptionsForm& form, std::int16_t accountCount);

// "リスト列幅を元に戻す": the popup's six column widths back to the defaults.
void resetGridWidths(SettingsStore& store);

// What Windows runs at logon to start the monitor: the quoted path of
// tarvimon.exe in `folder` (the settings program's own folder).
Text logonCommand(const Text& folder);

// The dial-up list shows the entries last to first.
std::vector<Text> dialListItems(const std::vector<Text>& entries);

}  // namespace tarvi::settings
