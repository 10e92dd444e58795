// tarvimon.exe: the resident mail monitor.
#include <windows.h>

#include <commctrl.h>

#include "common/win32/registry_store.h"
#include "monitor/desktop/hotkeys.h"
#include "monitor/desktop/mail_form.h"
#include "monitor/win32/hotkey_registrar.h"
#include "monitor/win32/keyboard.h"
#include "monitor/win32/main_window.h"
#include "monitor/win32/popup_wiring.h"
#include "monitor/win32/run_wiring.h"
#include "monitor/win32/socket_wiring.h"
#include "monitor/win32/win32_services.h"

using namespace tarvi;
using namespace tarvi::win32;

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
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
  MainWindow window(instance);
  MailForm form({store, timers, pump, dialogs, processes, window, lamp});
  Win32HotkeyRegistrar hotkeyRegistrar;
  Hotkeys hotkeys(hotkeyRegistrar, dialogs, form.opt.Hotkeynum);

  HDC screen = GetDC(nullptr);
  const int dpiX = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 96;
  const int dpiY = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen) ReleaseDC(nullptr, screen);
  if (!form.initialize(another, 1440 / (dpiX > 0 ? dpiX : 96), 1440 / (dpiY > 0 ? dpiY : 96)))
    return 0;

  if (!window.create()) return 1;
  timers.attach(window.hwnd());
  window.attach(&form);
  PopupAndAlerts popup(form, window, lamp);
  popup.install();
  CheckWiring check(instance, form);
  if (!check.install()) return 1;
  popup.connect(check.cycle, check.tally, check.mailList);
  RunWiring runs(instance, form, window, check, popup.popup);
  runs.install();
  hotkeyRegistrar.attach(window.hwnd(), &hotkeys);
  form.hookWindow = [&] { hotkeyRegistrar.hookWindow(); };
  form.unhookWindow = [&] { hotkeyRegistrar.unhookWindow(); };
  form.setupHotkeys = [&](int mode) { hotkeys.setupHotkeys(mode); };
  hotkeys.OpenOption = [&] { form.OpenOption(); };
  hotkeys.endMonitor = [&] {
    // The user declined to choose other keys: the unload query runs, and the
    // monitor ends whatever it was answered.
    form.queryUnload();
    ExitProcess(0);
  };
  hotkeys.commands[0] = [&] { form.mnu_opt(); };
  hotkeys.commands[1] = [&] {
    if (form.checkmail) form.checkmail();
  };
  hotkeys.commands[2] = [&] { form.mnu_pop(); };
  hotkeys.commands[3] = [&] { form.ExecMailapp(1); };
  hotkeys.commands[4] = [&] { form.ExecMailapp(2); };
  hotkeys.commands[5] = [&] { form.mnu_end(); };
  hotkeys.commands[6] = [&] { check.dialup.connectHotkey(); };
  hotkeys.commands[7] = [&] { check.dialup.hangUp(); };
  // Re-apply the timer state now that the window exists.
  form.timers.setInterval(TimerId::Timer1, form.timers.interval(TimerId::Timer1));
  if (!form.load()) return 0;

  MSG msg;
  while (!pump.quitSeen && GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  if (mutex) CloseHandle(mutex);
  return 0;
}
