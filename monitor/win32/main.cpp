// tarvimon.exe: the resident mail monitor. Puts the Win32 services and the
// Monitor together and runs the message loop; the Monitor does the rest.
#include <windows.h>

#include <commctrl.h>

#include "common/win32/dpapi.h"
#include "common/win32/registry_store.h"
#include "common/win32/schannel.h"
#include "common/win32/system_library.h"
#include "monitor/app/monitor.h"
#include "monitor/desktop/alerts.h"
#include "monitor/win32/charset_win32.h"
#include "monitor/win32/hotkey_registrar.h"
#include "monitor/win32/keyboard.h"
#include "monitor/win32/list_store_win32.h"
#include "monitor/win32/main_window.h"
#include "monitor/win32/network_state_win32.h"
#include "monitor/win32/ras_win32.h"
#include "monitor/win32/socket_win32.h"
#include "monitor/win32/tick_probe.h"
#include "monitor/win32/sound.h"
#include "monitor/win32/token_service_win32.h"
#include "monitor/win32/tray_icon.h"
#include "monitor/win32/user_attention_win32.h"
#include "monitor/win32/viewer_window.h"
#include "monitor/win32/win32_services.h"

using namespace tarvi;
using namespace tarvi::win32;

namespace {

// Twips per pixel of the screen, as the layout arithmetic counts them.
std::pair<int, int> screenTwipsPerPixel() {
  HDC screen = GetDC(nullptr);
  const int dpiX = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 96;
  const int dpiY = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen) ReleaseDC(nullptr, screen);
  return {1440 / (dpiX > 0 ? dpiX : 96), 1440 / (dpiY > 0 ? dpiY : 96)};
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // Before anything can load a DLL by name.
  loadDllsOnlyFromSystem32();

  // One monitor per user session; the mutex lives as long as the process.
  HANDLE mutex = CreateMutexW(nullptr, FALSE, L"Local\\tarvimon.single-instance");
  const bool another = mutex && GetLastError() == ERROR_ALREADY_EXISTS;

  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);

  RegistryStore store;
  Win32TimerDriver timers;
  Win32Pump pump;
  Win32Dialogs dialogs;
  Win32Processes processes;
  Win32Keyboard keyboard;
  ScrollLamp lamp(keyboard);
  WinmmSound sound;
  Win32Sockets sockets(instance);
  Win32Ras ras;
  Win32HotkeyRegistrar hotkeyRegistrar;
  MainWindow window(instance);
  ViewerWindow viewer(instance);
  Win32Charsets charsets;
  Win32TrayIcon trayIcon(instance);
  FileListStore lists;
  SchannelFactory tls;
  Win32TokenService tokens;
  ShellUserAttention attention;
  Win32NetworkState network;
  Monitor monitor({store, timers, pump, dialogs, processes, window, window, viewer, lamp, sound,
                   sockets, ras, hotkeyRegistrar, charsets, trayIcon, lists, &tls, nullptr, &tokens,
                   &attention, &network});
  tarvi::win32::DpapiSecretKeeper secrets;
  monitor.state().secrets = &secrets;

  // A second monitor only tells the user so; it never makes a window.
  const auto [twipsX, twipsY] = screenTwipsPerPixel();
  if (!monitor.initialize(another, twipsX, twipsY)) return 0;

  window.attach(&monitor);
  if (!window.create() || !sockets.create()) return 1;
  startLoadingDelayedDlls();
  sockets.onNotify = [&monitor](SocketHandle sock, std::uint32_t tag, int error, int event) {
    monitor.onSocket(sock, tag, error, event);
  };
  timers.attach(window.hwnd());
  window.setTimerDriver(&timers);
  tokens.attach(window.hwnd());
  network.watch(window.hwnd());
  // Windows 8 and later tell a program of sleep only when it asks, unless
  // the machine sleeps the old way.
  using RegisterSuspendResume = HPOWERNOTIFY(WINAPI*)(HANDLE, DWORD);
  if (const auto registerSuspendResume = reinterpret_cast<RegisterSuspendResume>(
          reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "RegisterSuspendResumeNotification"))))
    registerSuspendResume(window.hwnd(), DEVICE_NOTIFY_WINDOW_HANDLE);
  hotkeyRegistrar.attach(window.hwnd(), &monitor);
  viewer.setOwner(window.hwnd());
  trayIcon.attach(window.hwnd());
  window.setTray(&trayIcon);
  monitor.windowCreated();
  startTickProbeIfAsked();
  if (!monitor.load()) return 0;

  // WM_QUIT taken by a wait inside a command (the pump) ends the loop too.
  MSG msg;
  while (!pump.quitSeen && GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  if (mutex) CloseHandle(mutex);
  return 0;
}
