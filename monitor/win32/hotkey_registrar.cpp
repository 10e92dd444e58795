#include "monitor/win32/hotkey_registrar.h"

#include "common/win32/registry_store.h"

namespace tarvi::win32 {
namespace {

// The one hooked window's registrar; the monitor has a single main window.
Win32HotkeyRegistrar* g_hooked = nullptr;

}  // namespace

int Win32HotkeyRegistrar::addAtom(const Text& name) {
  return GlobalAddAtomW(wide(name).c_str());
}

void Win32HotkeyRegistrar::deleteAtom(int atom) { GlobalDeleteAtom(static_cast<ATOM>(atom)); }

bool Win32HotkeyRegistrar::registerKey(int id, unsigned modifiers, unsigned virtualKey) {
  return RegisterHotKey(hwnd_, id, modifiers, virtualKey) != FALSE;
}

void Win32HotkeyRegistrar::unregisterKey(int id) { UnregisterHotKey(hwnd_, id); }

void Win32HotkeyRegistrar::hookWindow() {
  if (!hwnd_ || oldWndProc_) return;
  g_hooked = this;
  oldWndProc_ = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&hookProc)));
}

void Win32HotkeyRegistrar::unhookWindow() {
  if (!hwnd_ || !oldWndProc_) return;
  SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(oldWndProc_));
  oldWndProc_ = nullptr;
}

LRESULT CALLBACK Win32HotkeyRegistrar::hookProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  Win32HotkeyRegistrar* self = g_hooked;
  if (!self || !self->oldWndProc_) return DefWindowProcW(hwnd, msg, wp, lp);
  if (msg == WM_HOTKEY) {
    if (self->monitor_) self->monitor_->onHotkey(static_cast<std::uintptr_t>(wp));
    return 0;
  }
  return CallWindowProcW(self->oldWndProc_, hwnd, msg, wp, lp);
}

}  // namespace tarvi::win32
