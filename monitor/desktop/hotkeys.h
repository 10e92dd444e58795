// The eight global hotkeys of the monitor: their table, registration with
// Windows under the atoms "VBSHOTKEY0".."VBSHOTKEY7", and dispatch.
#pragma once

#include <array>
#include <optional>

#include "common/hotkey_codec.h"
#include "common/settings.h"
#include "monitor/services/hotkey_registrar.h"
#include "monitor/services/services.h"

namespace tarvi {

struct HotkeyFunction {
  const char16_t* display;
  const char16_t* atom;
};

inline constexpr std::array<HotkeyFunction, kHotkeyCount> kHotkeyFunctions = {{
    {u"設定", u"VBSHOTKEY0"},
    {u"メールチェック", u"VBSHOTKEY1"},
    {u"ポップアップ", u"VBSHOTKEY2"},
    {u"メーラー1", u"VBSHOTKEY3"},
    {u"メーラー2", u"VBSHOTKEY4"},
    {u"終了", u"VBSHOTKEY5"},
    {u"接続", u"VBSHOTKEY6"},
    {u"切断", u"VBSHOTKEY7"},
}};

// The commands of the hotkeys, in the order of kHotkeyFunctions.
enum class HotkeyCommand { Settings, Check, Popup, Mailer1, Mailer2, Quit, Connect, Disconnect };

// What registering the keys ended with.
enum class HotkeySetup {
  Done,
  Reconfigure,  // the eighth key failed too; the user chose to set them again
  Quit,         // ... or chose to end the monitor
};

class Hotkeys {
 public:
  Hotkeys(HotkeyRegistrar& registrar, Dialogs& dialogs,
          const std::array<std::int16_t, kHotkeyCount>& keys)
      : reg_(registrar), dialogs_(dialogs), keys_(keys) {}

  // Registers every function with a key; each failure is told, and the
  // failure of the last one asks whether to choose other keys, unless
  // `mayAskAgain` is false (the user chose them once already): the monitor
  // then goes on without the keys that failed.
  HotkeySetup registerAll(bool mayAskAgain = true);
  void releaseAll();
  bool setHotkey(int index, const Text& atomName, unsigned modifiers, unsigned virtualKey);
  void clearHotkey(int index);

  // The command of the first function whose id a WM_HOTKEY carries.
  std::optional<HotkeyCommand> commandFor(std::uintptr_t id) const;

  int hotkeyId(int index) const { return hotkeyId_[static_cast<std::size_t>(index)]; }

 private:
  HotkeyRegistrar& reg_;
  Dialogs& dialogs_;
  const std::array<std::int16_t, kHotkeyCount>& keys_;
  std::array<int, kHotkeyCount> hotkeyId_{};
};

}  // namespace tarvi
