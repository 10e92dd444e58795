#include "common/win32/kept_list_file.h"

#include <windows.h>

#include <string>

#include "common/kept_list_name.h"
#include "common/win32/registry_store.h"

namespace tarvi::win32 {

Text keptListFolder() {
  std::wstring path(MAX_PATH, L'\0');
  DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", path.data(), static_cast<DWORD>(path.size()));
  if (n >= path.size()) {
    path.resize(n);
    n = GetEnvironmentVariableW(L"LOCALAPPDATA", path.data(), static_cast<DWORD>(path.size()));
  }
  if (n == 0 || n >= path.size()) return {};
  path.resize(n);
  while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  if (path.empty()) return {};
  return fromWide(path) + u"\\Tarvi";
}

Text keptListPath(TextView identity) {
  const Text folder = keptListFolder();
  if (folder.empty()) return {};
  return folder + u"\\" + keptListFileName(identity);
}

void removeKeptList(const AccountSettings& account) {
  const Text path = keptListPath(mailboxIdentity(account));
  if (!path.empty()) DeleteFileW(wide(path).c_str());
}

}  // namespace tarvi::win32
