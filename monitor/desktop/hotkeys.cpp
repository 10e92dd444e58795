#include "monitor/desktop/hotkeys.h"

#include "common/app.h"

namespace tarvi {

bool Hotkeys::setHotkey(int index, const Text& atomName, unsigned modifiers,
                        unsigned virtualKey) {
  if (hotkeyId(index) != 0) clearHotkey(index);
  const int atom = reg_.addAtom(atomName);
  // The atom is kept even when the registration fails: clearHotkey frees it.
  hotkeyId_[static_cast<std::size_t>(index)] = atom;
  if (atom == 0) return false;
  return reg_.registerKey(atom, modifiers, virtualKey);
}

void Hotkeys::clearHotkey(int index) {
  const int id = hotkeyId(index);
  if (id == 0) return;
  reg_.unregisterKey(id);
  reg_.deleteAtom(id);
  hotkeyId_[static_cast<std::size_t>(index)] = 0;
}

void Hotkeys::releaseAll() {
  for (int i = 0; i < kHotkeyCount; ++i) clearHotkey(i);
}

HotkeySetup Hotkeys::registerAll(bool mayAskAgain) {
  for (int i = 0; i < kHotkeyCount; ++i) {
    const HotkeyFunction& f = kHotkeyFunctions[static_cast<std::size_t>(i)];
    const HotkeyKey key = decodeHotkey(keys_[static_cast<std::size_t>(i)]);
    if (key.none()) continue;
    if (setHotkey(i, f.atom, key.modifiers, key.virtualKey)) continue;
    dialogs_.messageBox(Text(f.display) + u"の起動キー" + key.name + u"の設定に失敗しました",
                        kAppTitle, MsgButtons::Ok, MsgIcon::None);
    if (i == kHotkeyCount - 1 && mayAskAgain) {
      const MsgAnswer a = dialogs_.messageBox(
          u"起動キーを設定し直してください\r\n「いいえ」で終了します。", kAppTitle,
          MsgButtons::YesNo, MsgIcon::Information);
      return a == MsgAnswer::Yes ? HotkeySetup::Reconfigure : HotkeySetup::Quit;
    }
  }
  return HotkeySetup::Done;
}

std::optional<HotkeyCommand> Hotkeys::commandFor(std::uintptr_t id) const {
  for (int i = 0; i < kHotkeyCount; ++i)
    if (hotkeyId(i) != 0 && static_cast<std::uintptr_t>(hotkeyId(i)) == id)
      return static_cast<HotkeyCommand>(i);
  return std::nullopt;
}

}  // namespace tarvi
