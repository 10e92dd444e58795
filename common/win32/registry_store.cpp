#include "common/win32/registry_store.h"

#include <windows.h>

#include <vector>

namespace tarvi::win32 {
namespace {

const wchar_t kKeyPath[] = L"Software\\VB and VBA Program Settings\\tarvimon\\setting";
// A value longer than this is not a setting of ours; reading it would only
// cost memory, so it reads as absent.
constexpr DWORD kMaxValueBytes = 1 << 20;

}  // namespace

std::wstring wide(const Text& text) { return std::wstring(text.begin(), text.end()); }
Text fromWide(const std::wstring& text) { return Text(text.begin(), text.end()); }

std::optional<Text> RegistryStore::get(const Text& key) const {
  HKEY h;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kKeyPath, 0, KEY_QUERY_VALUE, &h) != ERROR_SUCCESS)
    return std::nullopt;
  const std::wstring name = wide(key);
  DWORD type = 0, size = 0;
  std::optional<Text> result;
  if (RegQueryValueExW(h, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ) && size <= kMaxValueBytes) {
    std::vector<wchar_t> buf(size / sizeof(wchar_t) + 1, L'\0');
    DWORD got = static_cast<DWORD>(buf.size() * sizeof(wchar_t));
    if (RegQueryValueExW(h, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buf.data()),
                         &got) == ERROR_SUCCESS) {
      // The stored text may or may not end with its terminator.
      std::size_t n = got / sizeof(wchar_t);
      if (n > buf.size()) n = buf.size();
      while (n > 0 && buf[n - 1] == L'\0') --n;
      result = Text(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(n));
    }
  }
  RegCloseKey(h);
  return result;
}

void RegistryStore::put(const Text& key, const Text& value) {
  HKEY h;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kKeyPath, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &h,
                      nullptr) != ERROR_SUCCESS)
    return;
  const std::wstring name = wide(key);
  const std::wstring data = wide(value);
  RegSetValueExW(h, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                 static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(h);
}

}  // namespace tarvi::win32
