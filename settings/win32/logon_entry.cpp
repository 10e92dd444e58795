#include "settings/win32/logon_entry.h"

#include <windows.h>

#include "common/win32/registry_store.h"

namespace tarvi::settings::win32 {
namespace {

constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kValue[] = L"Tarvi";

}  // namespace

bool logonEntryExists() {
  return RegGetValueW(HKEY_CURRENT_USER, kRunKey, kValue, RRF_RT_ANY, nullptr, nullptr, nullptr) ==
         ERROR_SUCCESS;
}

bool setLogonEntry(const Text& command) {
  const std::wstring w = tarvi::win32::wide(command);
  return RegSetKeyValueW(HKEY_CURRENT_USER, kRunKey, kValue, REG_SZ, w.c_str(),
                         static_cast<DWORD>((w.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool removeLogonEntry() {
  const LSTATUS r = RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, kValue);
  return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND;
}

}  // namespace tarvi::settings::win32
