// The eight global hotkeys of the monitor: their table, registration with
// Windows under the atoms "VBSHOTKEY0".."VBSHOTKEY7", and dispatch.
#pragma once

#include <array>
#include <functional>

#include "common/hotkey_codec.h"
#include "common/settings.h"
#include "monitor/desktop/services.h"

namespace tarvi {

// Registration of system-wide hotkeys on the main window.
class HotkeyRegistrar {
 public:
  virtual ~HotkeyRegistrar() = default;
  // A global atom for the name; 0 when none could be made.
  virtual int addAtom(const Text& name) = 0;
  virtual void deleteAtom(int atom) = 0;
  virtual bool registerKey(int id, unsigned modifiers, unsigned virtualKey) = 0;
  virtual void unregisterKey(int id) = 0;
  // Puts the hotkey hook in front of the main window's procedure, and back.
  virtual void hookWindow() = 0;
  virtual void unhookWindow() = 0;
};

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

class Hotkeys {
 public:
  Hotkeys(HotkeyRegistrar& registrar, Dialogs& dialogs,
          const std::array<std::int16_t, kHotkeyCount>& hotkeyNum)
      : reg_(registrar), dialogs_(dialogs), hotkeyNum_(hotkeyNum) {}

  // mode != 0: registers every function with a key; 0: releases them all.
  void setupHotkeys(int mode);
  bool setHotkey(int index, const Text& atomName, unsigned modifiers, unsigned virtualKey);
  void clearHotkey(int index);

  // A WM_HOTKEY message: runs the command of the first function whose id it
  // carries. Returns false when no function has that id.
  bool onHotkey(std::uintptr_t id);

  // The commands, in the order of kHotkeyFunctions.
  std::array<std::function<void()>, kHotkeyCount> commands;
  // The reconfigure-or-quit question after the eighth key failed.
  std::function<void()> OpenOption;
  std::function<void()> endMonitor;  // runs the unload query, then ends at once

  int hotkeyId(int index) const { return hotkeyId_[static_cast<std::size_t>(index)]; }

 private:
  HotkeyRegistrar& reg_;
  Dialogs& dialogs_;
  const std::array<std::int16_t, kHotkeyCount>& hotkeyNum_;
  std::array<int, kHotkeyCount> hotkeyId_{};
};

}  // namespace tarvi
