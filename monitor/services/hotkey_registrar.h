// Registration of system-wide hotkeys on the main window.
#pragma once

#include "common/text.h"

namespace tarvi {

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

}  // namespace tarvi
