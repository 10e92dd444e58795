// The end-to-end tests' hands and eyes inside the Wine prefix: lists windows,
// reads their texts, presses dialog buttons and posts messages, printing
// UTF-8 lines for the test scripts.
//
//   tarvidrv windows                 hwnd pid visible class title, one per line
//   tarvidrv texts HWND              the window's and its children's texts
//   tarvidrv click HWND ID           presses the dialog's button ID
//   tarvidrv post HWND MSG WP LP     PostMessage (numbers in decimal)
//   tarvidrv scrollstate             1 when the Scroll Lock lamp is lit
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string utf8(const std::wstring& w) {
  if (w.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string s(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr,
                      nullptr);
  return s;
}

void out(const std::string& s) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), s.data(), static_cast<DWORD>(s.size()), &written,
            nullptr);
}

std::string escape(const std::wstring& w) {
  std::string s = utf8(w), r;
  for (char c : s) {
    if (c == '\r') r += "\\r";
    else if (c == '\n') r += "\\n";
    else if (c == '\t') r += "\\t";
    else r += c;
  }
  return r;
}

std::wstring textOf(HWND h) {
  wchar_t buf[4096];
  // WM_GETTEXT reads other processes' controls too.
  const LRESULT n = SendMessageTimeoutW(h, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buf),
                                        SMTO_ABORTIFHUNG, 2000, nullptr)
                        ? static_cast<LRESULT>(wcsnlen(buf, 4096))
                        : 0;
  return std::wstring(buf, static_cast<std::size_t>(n));
}

std::wstring classOf(HWND h) {
  wchar_t buf[256];
  const int n = GetClassNameW(h, buf, 256);
  return std::wstring(buf, static_cast<std::size_t>(n > 0 ? n : 0));
}

HWND parseHwnd(const char* s) {
  return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(std::strtoull(s, nullptr, 0)));
}

BOOL CALLBACK listTop(HWND h, LPARAM) {
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  char head[96];
  std::snprintf(head, sizeof head, "%llu\t%lu\t%d\t",
                static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(h)),
                static_cast<unsigned long>(pid), IsWindowVisible(h) ? 1 : 0);
  out(head + escape(classOf(h)) + "\t" + escape(textOf(h)) + "\n");
  return TRUE;
}

BOOL CALLBACK listChild(HWND h, LPARAM) {
  char head[96];
  std::snprintf(head, sizeof head, "child\t%llu\t%d\t%d\t",
                static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(h)),
                GetDlgCtrlID(h), IsWindowVisible(h) ? 1 : 0);
  out(head + escape(classOf(h)) + "\t" + escape(textOf(h)) + "\n");
  return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** wargv) {
  std::string argv[8];
  for (int i = 0; i < argc && i < 8; ++i) argv[i] = utf8(wargv[i]);
  if (argc < 2) return 2;
  const std::string cmd = argv[1];
  if (cmd == "windows") {
    EnumWindows(listTop, 0);
    return 0;
  }
  if (cmd == "texts" && argc >= 3) {
    HWND h = parseHwnd(argv[2].c_str());
    if (!IsWindow(h)) return 1;
    listTop(h, 0);
    EnumChildWindows(h, listChild, 0);
    return 0;
  }
  if (cmd == "click" && argc >= 4) {
    HWND h = parseHwnd(argv[2].c_str());
    const int id = std::atoi(argv[3].c_str());
    HWND button = GetDlgItem(h, id);
    if (!IsWindow(h)) return 1;
    PostMessageW(h, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    return 0;
  }
  if (cmd == "post" && argc >= 6) {
    HWND h = parseHwnd(argv[2].c_str());
    return PostMessageW(h, static_cast<UINT>(std::strtoul(argv[3].c_str(), nullptr, 0)),
                        static_cast<WPARAM>(std::strtoull(argv[4].c_str(), nullptr, 0)),
                        static_cast<LPARAM>(std::strtoll(argv[5].c_str(), nullptr, 0)))
               ? 0
               : 1;
  }
  if (cmd == "scrollstate") {
    out((GetKeyState(VK_SCROLL) & 1) ? "1\n" : "0\n");
    return 0;
  }
  return 2;
}
