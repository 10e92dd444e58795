#include "settings/win32/ras_entries.h"

#include <windows.h>

#include <ras.h>
#include <raserror.h>

#include "common/win32/registry_store.h"
#include "common/win32/system_library.h"

namespace tarvi::settings::win32 {

std::vector<Text> enumDialEntries() {
  using Fn = DWORD(WINAPI*)(LPCWSTR, LPCWSTR, LPRASENTRYNAMEW, LPDWORD, LPDWORD);
  // Loaded at run time: the service is optional on modern systems.
  HMODULE lib = tarvi::win32::loadSystemLibrary(L"rasapi32.dll");
  if (!lib) return {};
  auto enumEntries =
      reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(lib, "RasEnumEntriesW")));
  std::vector<Text> names;
  if (enumEntries) {
    std::vector<RASENTRYNAMEW> buf(256);
    for (int attempt = 0; attempt < 2; ++attempt) {
      ZeroMemory(buf.data(), buf.size() * sizeof(RASENTRYNAMEW));
      buf[0].dwSize = sizeof(RASENTRYNAMEW);
      DWORD bytes = static_cast<DWORD>(buf.size() * sizeof(RASENTRYNAMEW));
      DWORD count = 0;
      const DWORD rc = enumEntries(nullptr, nullptr, buf.data(), &bytes, &count);
      if (rc == ERROR_BUFFER_TOO_SMALL && attempt == 0 && bytes > 0) {
        // More entries than the first buffer holds: grow it once.
        buf.resize(bytes / sizeof(RASENTRYNAMEW) + 1);
        continue;
      }
      if (rc != 0) break;
      for (DWORD i = 0; i < count && i < buf.size() && buf[i].szEntryName[0]; ++i) {
        buf[i].szEntryName[RAS_MaxEntryName] = L'\0';
        names.push_back(tarvi::win32::fromWide(buf[i].szEntryName));
      }
      break;
    }
  }
  FreeLibrary(lib);
  return names;
}

}  // namespace tarvi::settings::win32
