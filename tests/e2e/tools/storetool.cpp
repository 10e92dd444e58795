// Reads and writes settings through the programs' own registry store.
//   storetool put KEY VALUE     storetool get KEY
#include <windows.h>

#include <string>

#include "common/win32/registry_store.h"

using tarvi::win32::RegistryStore;

namespace {

void out(const std::wstring& w) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string s(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr,
                      nullptr);
  s += "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), s.data(), static_cast<DWORD>(s.size()), &written,
            nullptr);
}

tarvi::Text text(const wchar_t* w) { return tarvi::win32::fromWide(w); }

}  // namespace

int wmain(int argc, wchar_t** argv) {
  RegistryStore store;
  const std::wstring cmd = argc > 1 ? argv[1] : L"";
  if (cmd == L"put" && argc >= 4) {
    store.put(text(argv[2]), text(argv[3]));
    return 0;
  }
  if (cmd == L"get" && argc >= 3) {
    auto v = store.get(text(argv[2]));
    if (!v) return 1;
    out(tarvi::win32::wide(*v));
    return 0;
  }
  return 2;
}
