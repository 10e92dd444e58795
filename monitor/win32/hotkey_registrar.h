// Global hotkeys on the main window: atoms, RegisterHotKey, and the window
// procedure hook that catches WM_HOTKEY in front of the window's own.
#pragma once

#include <windows.h>

#include "monitor/app/monitor.h"
#include "monitor/services/hotkey_registrar.h"

namespace tarvi::win32 {

class Win32HotkeyRegistrar : public HotkeyRegistrar {
 public:
  // The window the keys are registered on, and the monitor their presses go to.
  void attach(HWND hwnd, Monitor* monitor) {
    hwnd_ = hwnd;
    monitor_ = monitor;
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
  Monitor* monitor_ = nullptr;
  WNDPROC oldWndProc_ = nullptr;
};

}  // namespace tarvi::win32
