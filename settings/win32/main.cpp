// tarvicfg.exe: the settings program. The monitor starts it, waits for it
// to end and then reads the settings again.
#include <windows.h>

#include <commctrl.h>

#include "common/win32/registry_store.h"
#include "common/win32/system_library.h"
#include "settings/win32/option_dialog.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // Before anything can load a DLL by name.
  tarvi::win32::loadDllsOnlyFromSystem32();

  // Two copies editing the same store would overwrite each other's work.
  HANDLE mutex = CreateMutexW(nullptr, FALSE, L"Local\\tarvicfg.single-instance");
  if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return 0;
  }
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);

  tarvi::win32::RegistryStore store;
  tarvi::settings::win32::runOptionDialog(instance, store);
  if (mutex) CloseHandle(mutex);
  return 0;
}
