// tarvicfg.exe: the settings program. The monitor starts it, waits for it
// to end and then reads the settings again.
//
// tarvicfg.exe /signin N signs account N in and stores its refresh token,
// nothing else: exit code 0 when a token was stored, 1 otherwise.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <optional>

#include "common/settings.h"
#include "common/win32/dpapi.h"
#include "common/win32/registry_store.h"
#include "common/win32/system_library.h"
#include "settings/win32/option_dialog.h"
#include "settings/win32/sign_in_dialog.h"

namespace {

// The account N of "/signin N", nullopt for any other command line.
std::optional<int> signInArgument() {
  int count = 0;
  LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!args) return std::nullopt;
  std::optional<int> n;
  if (count == 3 && lstrcmpiW(args[1], L"/signin") == 0) {
    const std::wstring number = args[2];
    if (const auto v = tarvi::parseInteger(tarvi::Text(number.begin(), number.end()), 1, INT16_MAX))
      n = static_cast<int>(*v);
  }
  LocalFree(args);
  return n;
}

int signInAccount(int n) {
  tarvi::win32::RegistryStore store;
  tarvi::GeneralSettings general;
  for (const auto& key : tarvi::generalKeys(general)) tarvi::readKey(store, key);
  if (n > general.accountCount) return 1;
  tarvi::win32::DpapiSecretKeeper keeper;
  tarvi::AccountSettings account;
  tarvi::loadAccount(store, n, account, &keeper);
  const auto outcome = tarvi::settings::win32::runSignIn(nullptr, account);
  if (!outcome.ok) return 1;
  tarvi::saveRefreshToken(store, n, outcome.refreshToken, keeper);
  // Only a token that reads back is one the monitor can use.
  tarvi::AccountSettings stored;
  tarvi::loadAccount(store, n, stored, &keeper);
  return stored.refreshToken == outcome.refreshToken ? 0 : 1;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // Before anything can load a DLL by name.
  tarvi::win32::loadDllsOnlyFromSystem32();
  tarvi::win32::startLoadingDelayedDlls();

  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  // A sign-in writes one key of one account, so it may run beside an open
  // settings program: the single-instance rule below is not for it.
  if (const auto n = signInArgument()) {
    InitCommonControlsEx(&icc);
    return signInAccount(*n);
  }

  // Two copies editing the same store would overwrite each other's work.
  HANDLE mutex = CreateMutexW(nullptr, FALSE, L"Local\\tarvicfg.single-instance");
  if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return 0;
  }
  InitCommonControlsEx(&icc);

  tarvi::win32::RegistryStore store;
  tarvi::settings::win32::runOptionDialog(instance, store);
  if (mutex) CloseHandle(mutex);
  return 0;
}
