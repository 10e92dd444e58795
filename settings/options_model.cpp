#include "settings/options_model.h"

#include "settings/hotkey_items.h"

namespace tarvi::settings {
namespace {

// The check boxes in the order of the form, bound to their settings.
std::array<bool*, kCheckBoxes> checkFields(GeneralSettings& s) {
  return {&s.popupOnNewMail, &s.soundOnNewMail,  &s.suppressErrorBoxes,  &s.blinkLamp,
          &s.checkAtStartup, &s.reportOnlyChanges,  &s.quitWithoutAsking,  &s.keepSessionLog,
          &s.newestFirst, &s.skipChecksOffline, &s.hangUpAfterCheck, &s.stayOnlineWithNewMail,
          &s.decodeAll, &s.trayIcon, &s.fastCheck, &s.quiet};
}

std::array<std::int16_t*, kTimerBoxes> timerFields(GeneralSettings& s) {
  return {&s.checkIntervalMinutes, &s.popupCloseSeconds, &s.sessionLimitMinutes, &s.blinkSeconds};
}

bool isBlank(char16_t c) { return c == u' ' || c == u'\t'; }

}  // namespace

Enables enablesFor(const OptionsForm& form) {
  return {form.checks[0], form.checks[3], form.checks[1]};
}

void applyCheckClick(OptionsForm& form, int checkIndex) {
  if (checkIndex == 0 && !form.checks[0]) form.timers[1] = u"0";
  if (checkIndex == 3 && !form.checks[3]) form.timers[3] = u"0";
}

std::int16_t readAccountCount(const SettingsStore& store) {
  GeneralSettings s;
  readKey(store, generalKeys(s).front());
  return s.accountCount < 0 ? 0 : s.accountCount;
}

OptionsForm loadOptions(const SettingsStore& store, int dialCount) {
  GeneralSettings s;
  for (const auto& k : generalKeys(s)) {
    // The popup layout is the monitor's business.
    if (k.group == KeyGroup::ColumnWidths || k.group == KeyGroup::PopupSize) continue;
    readKey(store, k);
  }
  OptionsForm f;
  auto checks = checkFields(s);
  for (int i = 0; i < kCheckBoxes; ++i) f.checks[i] = *checks[i];
  auto timers = timerFields(s);
  for (int i = 0; i < kTimerBoxes; ++i) f.timers[i] = decimal(*timers[i]);
  f.mailers = s.mailerPaths;
  f.wav = s.soundFile;
  f.dialPosition = (s.dialEntryPosition >= 0 && s.dialEntryPosition < dialCount) ? s.dialEntryPosition : -1;
  f.redial = decimal(s.redialCount);
  f.balloon = s.balloon;
  for (int i = 0; i < kHotkeyCount; ++i) f.hotkeys[i] = hotkeyPosition(i, s.hotkeys[i]);
  return f;
}

std::optional<std::int16_t> parseTimerText(TextView text) {
  std::size_t b = 0, e = text.size();
  while (b < e && isBlank(text[b])) ++b;
  while (e > b && isBlank(text[e - 1])) --e;
  bool neg = false;
  if (b < e && (text[b] == u'-' || text[b] == u'+')) neg = text[b++] == u'-';
  std::int64_t whole = 0;
  int digits = 0;
  for (; b < e && text[b] >= u'0' && text[b] <= u'9'; ++b, ++digits)
    if (whole < 1000000) whole = whole * 10 + (text[b] - u'0');
  int firstFrac = -1;  // first digit after the point, -1 when none
  bool restNonZero = false;
  if (b < e && text[b] == u'.') {
    for (++b; b < e && text[b] >= u'0' && text[b] <= u'9'; ++b, ++digits) {
      if (firstFrac < 0) firstFrac = text[b] - u'0';
      else if (text[b] != u'0') restNonZero = true;
    }
  }
  if (b != e || digits == 0) return std::nullopt;
  if (firstFrac > 5 || (firstFrac == 5 && (restNonZero || whole % 2 == 1))) ++whole;
  const std::int64_t v = neg ? -whole : whole;
  if (v < 0 || v > INT16_MAX) return std::nullopt;
  return static_cast<std::int16_t>(v);
}

std::optional<std::int16_t> parseRedialText(TextView text) {
  auto v = parseInteger(text, 0, INT16_MAX);
  if (!v) return std::nullopt;
  return static_cast<std::int16_t>(*v);
}

std::optional<std::int16_t> parsePortText(TextView text) {
  auto v = parseInteger(text, 1, INT16_MAX);
  if (!v) return std::nullopt;
  return static_cast<std::int16_t>(*v);
}

bool OkGate::check(int index, TextView text) {
  if (index >= 1 && index <= kTimerBoxes) err_[index] = !parseTimerText(text);
  else if (index == kRedial) err_[index] = !parseRedialText(text);
  return okEnabled();
}

bool OkGate::okEnabled() const {
  for (bool e : err_)
    if (e) return false;
  return true;
}

std::optional<GeneralSettings> collectOptions(const OptionsForm& form) {
  GeneralSettings s;
  auto checks = checkFields(s);
  for (int i = 0; i < kCheckBoxes; ++i) *checks[i] = form.checks[i];
  auto timers = timerFields(s);
  for (int i = 0; i < kTimerBoxes; ++i) {
    auto v = parseTimerText(form.timers[i]);
    if (!v) return std::nullopt;
    *timers[i] = *v;
  }
  s.balloon = form.balloon;
  s.mailerPaths = form.mailers;
  s.soundFile = form.wav;
  s.dialEntryPosition = static_cast<std::int16_t>(form.dialPosition < 0 ? -1 : form.dialPosition);
  auto redial = parseRedialText(form.redial);
  if (!redial) return std::nullopt;
  s.redialCount = *redial;
  for (int i = 0; i < kHotkeyCount; ++i) s.hotkeys[i] = hotkeyValueAt(i, form.hotkeys[i]);
  return s;
}

void saveOptions(SettingsStore& store, const GeneralSettings& in, std::int16_t accountCount) {
  GeneralSettings s = in;
  s.accountCount = accountCount;
  // No box shows it: set in the registry, it stays as stored.
  GeneralSettings stored;
  for (const auto& k : generalKeys(stored, KeyGroup::Options)) readKey(store, k);
  s.legacyPassword = stored.legacyPassword;
  // The popup layout is the monitor's to write.
  for (KeyGroup g : {KeyGroup::AccountCount, KeyGroup::Options, KeyGroup::Timers, KeyGroup::Paths,
                     KeyGroup::Dialup, KeyGroup::Hotkeys})
    writeKeys(store, generalKeys(s, g));
}

OkOutcome pressOk(SettingsStore& store, const OptionsForm& form, std::int16_t accountCount) {
  if (hasDuplicateHotkeys(form.hotkeys)) return OkOutcome::DuplicateHotkeys;
  const auto s = collectOptions(form);
  if (!s) return OkOutcome::InvalidBox;
  saveOptions(store, *s, accountCount);
  return OkOutcome::Saved;
}

void resetGridWidths(SettingsStore& store) {
  GeneralSettings defaults;
  writeKeys(store, generalKeys(defaults, KeyGroup::ColumnWidths));
}

Text logonCommand(const Text& folder) {
  Text path = folder;
  if (!path.empty() && path.back() != u'\\') path += u'\\';
  // Quoted, so that a folder with spaces is not read as a program and arguments.
  return u"\"" + path + u"tarvimon.exe\"";
}

std::vector<Text> dialListItems(const std::vector<Text>& entries) {
  return std::vector<Text>(entries.rbegin(), entries.rend());
}

}  // namespace tarvi::settings
