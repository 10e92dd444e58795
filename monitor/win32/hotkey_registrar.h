// Global hotkeys on the main window: atoms, RegisterHotKey, and the window
// procedure hook that catches WM_HOTKEY in front of the window's own.
#pragma once

#include <windows.h>

#include "monitor/desktop/hotkeys.h"

namespace tarvi::win32 {

class Win32HotkeyRegistrar : public HotkeyRegistrar {
 public:
  void attach(HWND hwnd, Hotkeys* hotkeys) {
    hwnd_ = hwnd;
    hotkeys_ = hotkeys;
  }
  int addAtom(const Text& name) override;
  void deleteAtom(int atom) override;
  bool registerKey(int id, unsigned modifiers, unsigned virtualKey) override;
  void unregisterKey(int id) override;
  void hookWindow() override;
  void unhookWindow() override;

 private:
  static LRESULT CALLBACK hookProc(HWND, UINT, WPARAM, LPARAM);
  HWND hwnd_ = nullptr;
  Hotkeys* hotkeys_ = nullptr;
  WNDPROC oldWndProc_ = nullptr;
};

}  // namespace tarvi::win32
