// Stand-in for the settings program in the start-up tests: stores one
// account (or none, as FAKECFG_MODE says) and ends, as a
// user who configured the monitor and closed the dialog would.
#include <windows.h>

#include "common/settings.h"
#include "common/win32/registry_store.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  tarvi::win32::RegistryStore store;
  // Count the runs, so that a test can see how often it was started.
  auto runs = tarvi::parseInt16(store.read(u"fakecfgRuns", u"0")).value_or(0);
  store.put(u"fakecfgRuns", tarvi::decimal(runs + 1));
  // How it was started: its argv[0] must be its own path, quoted.
  store.put(u"fakecfgCommandLine", tarvi::win32::fromWide(GetCommandLineW()));
  wchar_t mode[32] = L"";
  GetEnvironmentVariableW(L"FAKECFG_MODE", mode, 32);
  if (std::wstring(mode) == L"popupkey") {  // the popup moves to Ctrl+B
    store.put(u"Hotkeynum2", u"66");
    return 0;
  }
  // "none": store nothing; "firstnone": nothing at the first run only.
  if (std::wstring(mode) == L"none" || (std::wstring(mode) == L"firstnone" && runs == 0)) return 0;
  tarvi::AccountSettings a;
  a.name = u"テスト";
  a.host = u"127.0.0.1";
  a.user = u"user";
  a.password = u"secret";
  tarvi::saveAccount(store, 1, a);
  store.put(u"accountno", u"1");
  return 0;
}
