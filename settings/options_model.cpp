#include "settings/options_model.h"

#include "settings/hotkey_items.h"

namespace tarvi::settings {
namespace {

// The check boxes in the order of the form, bound to their settings.
std::array<std::int16_t*, kCheckBoxes> checkFields(GeneralSettings& s) {
  return {&s.Option1value, &s.Option2value,  &s.Option3value,  &s.Option4value,
          &s.Option5value, &s.Option6value,  &s.Option7value,  &s.Option8value,
          &s.Option9value, &s.Option10value, &s.Option11value, &s.sOption11value};
}

std::array<std::int16_t*, kTimerBoxes> timerFields(GeneralSettings& s) {
  return {&s.Checktimerval, &s.Closetimerval, &s.Timeupval, &s.Lighttimerval};
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
  return s.accountno < 0 ? 0 : s.accountno;
}

OptionsForm loadOptions(const SettingsStore& store, int dialCount) {
  GeneralSettings s;
  for (const auto& k : generalKeys(s)) {
    // The popup layout is the monitor's business.
    const Text& n = k.def.name;
    if (n.starts_with(u"grdWidth") || n == u"frmWidth" || n == u"frmHeight") continue;
    readKey(store, k);
  }
  OptionsForm f;
  auto checks = checkFields(s);
  for (int i = 0; i < kCheckBoxes; ++i) f.checks[i] = *checks[i] != 0;
  auto timers = timerFields(s);
  for (int i = 0; i < kTimerBoxes; ++i) f.timers[i] = decimal(*timers[i]);
  f.mailers = {s.Mailerdir[1], s.Mailerdir[2]};
  f.wav = s.Wavdir;
  f.dialPosition = (s.Defdialno >= 0 && s.Defdialno < dialCount) ? s.Defdialno : -1;
  f.redial = decimal(s.Redialval);
  for (int i = 0; i < kHotkeyCount; ++i) f.hotkeys[i] = hotkeyPosition(i, s.Hotkeynum[i]);
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
  for (int i = 0; i < kCheckBoxes; ++i) *checks[i] = form.checks[i] ? 1 : 0;
  auto timers = timerFields(s);
  for (int i = 0; i < kTimerBoxes; ++i) {
    auto v = parseTimerText(form.timers[i]);
    if (!v) return std::nullopt;
    *timers[i] = *v;
  }
  s.Mailerdir[1] = form.mailers[0];
  s.Mailerdir[2] = form.mailers[1];
  s.Wavdir = form.wav;
  s.Defdialno = static_cast<std::int16_t>(form.dialPosition < 0 ? -1 : form.dialPosition);
  auto redial = parseRedialText(form.redial);
  if (!redial) return std::nullopt;
  s.Redialval = *redial;
  for (int i = 0; i < kHotkeyCount; ++i) s.Hotkeynum[i] = hotkeyValueAt(i, form.hotkeys[i]);
  return s;
}

void saveOptions(SettingsStore& store, const GeneralSettings& in, std::int16_t accountCount) {
  GeneralSettings s = in;
  s.accountno = accountCount;
  saveValue(store, u"accountno", s.accountno, u"");
  static const char* const optionKeys[kCheckBoxes] = {
      "Option1value", "Option2value", "Option3value",  "Option4value",
      "Option5value", "Option6value", "Option7value",  "Option8value",
      "Option9value", "Option10value", "Option11value", "sOption11value"};
  auto checks = checkFields(s);
  for (int i = 0; i < kCheckBoxes; ++i) saveValue(store, ascii(optionKeys[i]), *checks[i], u"");
  static const char* const timerKeys[kTimerBoxes] = {"Checktimerval", "Closetimerval", "Timeupval",
                                                     "Lighttimerval"};
  auto timers = timerFields(s);
  for (int i = 0; i < kTimerBoxes; ++i) saveValue(store, ascii(timerKeys[i]), *timers[i], u"");
  saveValue(store, u"Mailerdir1", 0, s.Mailerdir[1]);
  saveValue(store, u"Mailerdir2", 0, s.Mailerdir[2]);
  saveValue(store, u"Wavdir", 0, s.Wavdir);
  saveValue(store, u"Defdialno", s.Defdialno, u"");
  saveValue(store, u"Redialval", s.Redialval, u"");
  for (int i = 0; i < kHotkeyCount; ++i) saveValue(store, u"Hotkeynum" + decimal(i), s.Hotkeynum[i], u"");
}

OkOutcome pressOk(SettingsStore& store, const OptionsForm& form, std::int16_t accountCount) {
  if (hasDuplicateHotkeys(form.hotkeys)) return OkOutcome::DuplicateHotkeys;
  const auto s = collectOptions(form);
  if (!s) return OkOutcome::InvalidBox;
  saveOptions(store, *s, accountCount);
  return OkOutcome::Saved;
}

void resetGridWidths(SettingsStore& store) {
  for (int i = 0; i < kGridColumns; ++i)
    store.put(u"grdWidth" + decimal(i), decimal(kDefaultGridWidths[i]));
}

std::vector<Text> dialListItems(const std::vector<Text>& entries) {
  return std::vector<Text>(entries.rbegin(), entries.rend());
}

}  // namespace tarvi::settings
