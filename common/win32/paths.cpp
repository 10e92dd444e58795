#include "common/win32/paths.h"

#include <windows.h>

#include <string>

#include "common/win32/registry_store.h"

namespace tarvi::win32 {

Text exeFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);  // a long path: try again with room for it
  }
  const auto slash = path.find_last_of(L"\\/");
  return fromWide(slash == std::wstring::npos ? std::wstring() : path.substr(0, slash));
}

}  // namespace tarvi::win32
