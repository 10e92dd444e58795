#include "monitor/win32/keyboard.h"

#include <windows.h>

namespace tarvi::win32 {

int Win32Keyboard::platform() {
  // GetVersionEx is deprecated for version numbers, but the platform
  // identifier it gives is still right; the Windows 9x line is long gone,
  // so a failing call is taken as Windows NT.
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
  const BOOL ok = GetVersionExW(&info);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
  return ok ? static_cast<int>(info.dwPlatformId) : VER_PLATFORM_WIN32_NT;
}

std::int16_t Win32Keyboard::keyState(int vk) { return GetKeyState(vk); }

bool Win32Keyboard::getState(StateTable& table) { return GetKeyboardState(table.data()) != 0; }

void Win32Keyboard::setState(const StateTable& table) {
  StateTable copy = table;
  SetKeyboardState(copy.data());
}

void Win32Keyboard::keyEvent(std::uint8_t vk, std::uint8_t scan, std::uint32_t flags) {
  keybd_event(vk, scan, flags, 0);
}

}  // namespace tarvi::win32
