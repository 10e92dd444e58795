// The end-to-end tests' hands and eyes inside the Wine prefix: lists windows,
// reads their texts, presses dialog buttons and posts messages, printing
// UTF-8 lines for the test scripts.
//
//   tarvidrv windows                 hwnd pid visible class title, one per line
//   tarvidrv texts HWND              the window's and its children's texts
//   tarvidrv click HWND ID           presses the dialog's button ID
//   tarvidrv post HWND MSG WP LP     PostMessage (numbers in decimal)
//   tarvidrv grab MODS VK            holds that hotkey (as another program
//                                    would) until its window is closed
//   tarvidrv scrollstate             1 when the Scroll Lock lamp is lit
//   tarvidrv key MODS VK             presses a key chord (MODS: 2 Ctrl, 4 Shift)
//                                    from a focused window of its own, as a
//                                    user would: Wine checks hotkeys then
//   tarvidrv settext HWND ID TEXT    sets a control's text (as typing would)
//   tarvidrv select HWND ID INDEX    selects a combo box item, notifying the dialog
//   tarvidrv lvrows HWND ID          a ListView's rows, cells TAB-separated
//   tarvidrv state HWND ID           "enabled checked" of a control, each 0 or 1
//   tarvidrv send HWND MSG WP LP     SendMessage without pointers; prints the result
//   tarvidrv lvclick HWND ID ROW [N] clicks (N=2: double-clicks) a ListView row
//                                    with the mouse; ROW -1 clicks below the rows
//   tarvidrv lvrect HWND ID ROW      a ListView row's bounds on the screen:
//                                    "left top right bottom"
//   tarvidrv rect HWND               a window's bounds on the screen: "left top right bottom"
//   tarvidrv settingchange TEXT      broadcasts WM_SETTINGCHANGE with TEXT, as Windows
//                                    does when a setting changed (ImmersiveColorSet:
//                                    the taskbar turned light or dark)
//   tarvidrv syscolor INDEX          GetSysColor(INDEX) as a decimal COLORREF
//   tarvidrv resources PID           what the process holds: "handles gdi user
//                                    windows private_bytes working_set" (bytes);
//                                    where Wine answers 0 for another process,
//                                    handles come from the system's handle table
//   tarvidrv atom NAME               the global atom's number (0: none), e.g. the
//                                    id a hotkey was registered with
//   tarvidrv waittitle CLASS TITLE.. prints "ready", then looks for the window every
//                                    5 ms (hidden ones too) and prints the time it
//                                    was seen, in Unix microseconds, then the next
//                                    title's, and so on: a bench's
//                                    stopwatch that costs the program watched
//                                    nothing but a lookup
//   tarvidrv serve                   runs commands read from stdin, one a line with
//                                    TAB-separated arguments, each answer followed
//                                    by a line "=EXITCODE": a bench that asks
//                                    thousands of times pays Wine's start once
#include <windows.h>

#include <psapi.h>

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
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
    if (c == '\\') r += "\\\\";  // so that a path's "\t" is not read as a TAB
    else if (c == '\r') r += "\\r";
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

std::wstring wideArg(const wchar_t* w) { return w ? std::wstring(w) : std::wstring(); }

// Reads every cell of another process's ListView through memory allocated
// in that process, since LVM_GETITEMTEXTW carries pointers.
int listRows(HWND view) {
  DWORD pid = 0;
  GetWindowThreadProcessId(view, &pid);
  HANDLE proc = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (!proc) return 1;
  constexpr SIZE_T kChars = 1024;
  const SIZE_T size = sizeof(LVITEMW) + kChars * sizeof(wchar_t);
  auto* remote = static_cast<char*>(VirtualAllocEx(proc, nullptr, size, MEM_COMMIT, PAGE_READWRITE));
  if (!remote) {
    CloseHandle(proc);
    return 1;
  }
  HWND header = reinterpret_cast<HWND>(SendMessageW(view, LVM_GETHEADER, 0, 0));
  const int columns = header ? static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 1;
  const int rows = static_cast<int>(SendMessageW(view, LVM_GETITEMCOUNT, 0, 0));
  for (int r = 0; r < rows; ++r) {
    std::wstring line;
    for (int c = 0; c < columns; ++c) {
      LVITEMW item{};
      item.iSubItem = c;
      item.cchTextMax = static_cast<int>(kChars);
      item.pszText = reinterpret_cast<LPWSTR>(remote + sizeof(LVITEMW));
      WriteProcessMemory(proc, remote, &item, sizeof item, nullptr);
      const auto n = SendMessageW(view, LVM_GETITEMTEXTW, static_cast<WPARAM>(r), reinterpret_cast<LPARAM>(remote));
      wchar_t buf[kChars] = {};
      ReadProcessMemory(proc, remote + sizeof(LVITEMW), buf, sizeof buf - sizeof(wchar_t), nullptr);
      if (c) line += L'\t';
      line.append(buf, static_cast<std::size_t>(n > 0 && n < static_cast<LRESULT>(kChars) ? n : 0));
    }
    out(utf8(line) + "\n");
  }
  VirtualFreeEx(proc, remote, 0, MEM_RELEASE);
  CloseHandle(proc);
  return 0;
}

void pump(DWORD ms);

// A row's rectangle (LVIR_* part) in the view's client coordinates, read
// through memory in the view's process since LVM_GETITEMRECT carries a pointer.
bool itemRect(HWND view, int row, int part, RECT& item) {
  DWORD pid = 0;
  GetWindowThreadProcessId(view, &pid);
  HANDLE proc = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (!proc) return false;
  void* remote = VirtualAllocEx(proc, nullptr, sizeof(RECT), MEM_COMMIT, PAGE_READWRITE);
  item = RECT{part, 0, 0, 0};
  WriteProcessMemory(proc, remote, &item, sizeof item, nullptr);
  const LRESULT ok = SendMessageW(view, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote));
  ReadProcessMemory(proc, remote, &item, sizeof item, nullptr);
  VirtualFreeEx(proc, remote, 0, MEM_RELEASE);
  CloseHandle(proc);
  return ok != 0;
}

// A real mouse click, so the ListView sends its own NM_CLICK / NM_DBLCLK.
int clickRow(HWND view, int row, int times) {
  RECT rc{};
  GetClientRect(view, &rc);
  POINT at{(rc.left + rc.right) / 3, rc.bottom - 4};
  if (row >= 0) {
    // The list may be rebuilt for a moment (a check refilling it); wait for the row.
    RECT item{};
    const DWORD until = GetTickCount() + 10000;
    while (!itemRect(view, row, LVIR_LABEL, item)) {
      if (static_cast<LONG>(until - GetTickCount()) <= 0) return 1;
      pump(100);
    }
    at = {item.left + 8, (item.top + item.bottom) / 2};
  }
  ClientToScreen(view, &at);
  SetForegroundWindow(GetAncestor(view, GA_ROOT));
  SetCursorPos(at.x, at.y);
  pump(200);
  for (int i = 0; i < times; ++i) {
    INPUT in[2] = {};
    in[0].type = in[1].type = INPUT_MOUSE;
    in[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    in[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, in, sizeof(INPUT));
    pump(50);
  }
  pump(300);
  return 0;
}

void pump(DWORD ms) {
  const DWORD end = GetTickCount() + ms;
  MSG msg;
  while (static_cast<LONG>(end - GetTickCount()) > 0) {
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    Sleep(10);
  }
}

int pressKey(unsigned mods, WORD vk) {
  // Wine delivers a hotkey only while one of its windows has the focus.
  HWND w = CreateWindowExW(WS_EX_TOPMOST, L"STATIC", L"tarvidrv", WS_POPUP | WS_VISIBLE, 0, 0, 40,
                           20, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  for (int i = 0; i < 50 && GetForegroundWindow() != w; ++i) {
    SetForegroundWindow(w);
    SetFocus(w);
    pump(100);
  }
  pump(200);
  INPUT in[4] = {};
  int n = 0;
  const WORD mod = (mods & 4) ? VK_SHIFT : ((mods & 2) ? VK_CONTROL : 0);
  if (mod) {
    in[n].type = INPUT_KEYBOARD;
    in[n++].ki.wVk = mod;
  }
  in[n].type = INPUT_KEYBOARD;
  in[n++].ki.wVk = vk;
  in[n].type = INPUT_KEYBOARD;
  in[n].ki.wVk = vk;
  in[n++].ki.dwFlags = KEYEVENTF_KEYUP;
  if (mod) {
    in[n].type = INPUT_KEYBOARD;
    in[n].ki.wVk = mod;
    in[n++].ki.dwFlags = KEYEVENTF_KEYUP;
  }
  UINT sent = 0;
  for (int i = 0; i < 20 && sent != static_cast<UINT>(n); ++i) {
    if (i > 0) pump(100);  // the focus can still be on its way
    sent = SendInput(static_cast<UINT>(n), in, sizeof(INPUT));
  }
  pump(300);
  DestroyWindow(w);
  return sent == static_cast<UINT>(n) ? 0 : 1;
}

// The handles of process `pid` in the system's handle table
// (SystemHandleInformation), or 0 when the table cannot be read.
DWORD handlesInTable(DWORD pid) {
  struct Entry {
    ULONG ownerPid;
    BYTE type, flags;
    USHORT value;
    PVOID object;
    ACCESS_MASK access;
  };
  using Query = LONG(WINAPI*)(int, PVOID, ULONG, PULONG);
  const auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  if (!query) return 0;
  std::string buf(1 << 20, '\0');
  ULONG need = 0;
  while (query(16, buf.data(), static_cast<ULONG>(buf.size()), &need) == static_cast<LONG>(0xC0000004)) {
    if (buf.size() > (256u << 20)) return 0;
    buf.resize(buf.size() * 2);
  }
  ULONG count = 0;
  std::memcpy(&count, buf.data(), sizeof count);
  const char* first = buf.data() + sizeof(ULONG_PTR);
  DWORD mine = 0;
  for (ULONG i = 0; i < count && sizeof(ULONG_PTR) + (i + 1) * sizeof(Entry) <= buf.size(); ++i) {
    Entry e;
    std::memcpy(&e, first + i * sizeof(Entry), sizeof e);
    if (e.ownerPid == pid) ++mine;
  }
  return mine;
}

BOOL CALLBACK countChild(HWND, LPARAM lp) {
  ++*reinterpret_cast<DWORD*>(lp);
  return TRUE;
}

struct WindowCount {
  DWORD pid;
  DWORD count;
};

BOOL CALLBACK countTop(HWND h, LPARAM lp) {
  auto* c = reinterpret_cast<WindowCount*>(lp);
  DWORD owner = 0;
  GetWindowThreadProcessId(h, &owner);
  if (owner != c->pid) return TRUE;
  ++c->count;
  EnumChildWindows(h, countChild, reinterpret_cast<LPARAM>(&c->count));
  return TRUE;
}

// The windows (top-level and children) of process `pid`: USER objects that
// can be counted where GetGuiResources answers nothing.
DWORD windowsOf(DWORD pid) {
  WindowCount c{pid, 0};
  EnumWindows(countTop, reinterpret_cast<LPARAM>(&c));
  return c.count;
}

}  // namespace

static int runCommand(int argc, wchar_t** wargv);

static std::wstring wideUtf8(const std::string& s) {
  if (s.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

static int serve(wchar_t* self) {
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  std::string buf;
  char chunk[512];
  DWORD got = 0;
  for (;;) {
    const std::size_t eol = buf.find('\n');
    if (eol == std::string::npos) {
      if (!ReadFile(in, chunk, sizeof chunk, &got, nullptr) || got == 0) return 0;
      buf.append(chunk, got);
      continue;
    }
    std::string line = buf.substr(0, eol);
    buf.erase(0, eol + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::wstring args[8];
    wchar_t* argv[8] = {self};
    int argc = 1;
    for (std::size_t pos = 0; argc < 8;) {
      const std::size_t tab = line.find('\t', pos);
      args[argc] = wideUtf8(line.substr(pos, tab == std::string::npos ? std::string::npos : tab - pos));
      argv[argc] = args[argc].data();
      ++argc;
      if (tab == std::string::npos) break;
      pos = tab + 1;
    }
    const int rc = args[1] == L"serve" ? 2 : runCommand(argc, argv);
    out("=" + std::to_string(rc) + "\n");
  }
}

int wmain(int argc, wchar_t** wargv) {
  if (argc == 2 && std::wstring(wargv[1]) == L"serve") return serve(wargv[0]);
  return runCommand(argc, wargv);
}

static int runCommand(int argc, wchar_t** wargv) {
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
  if (cmd == "send" && argc >= 6) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(parseHwnd(argv[2].c_str()), static_cast<UINT>(std::strtoul(argv[3].c_str(), nullptr, 0)),
                             static_cast<WPARAM>(std::strtoull(argv[4].c_str(), nullptr, 0)),
                             static_cast<LPARAM>(std::strtoll(argv[5].c_str(), nullptr, 0)), SMTO_ABORTIFHUNG, 5000,
                             &result))
      return 1;
    out(std::to_string(static_cast<long long>(result)) + "\n");
    return 0;
  }
  if (cmd == "settext" && argc >= 5) {
    HWND h = GetDlgItem(parseHwnd(argv[2].c_str()), std::atoi(argv[3].c_str()));
    if (!h) return 1;
    const std::wstring text = wideArg(wargv[4]);
    return SendMessageTimeoutW(h, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG,
                               5000, nullptr)
               ? 0
               : 1;
  }
  if (cmd == "select" && argc >= 5) {
    HWND dlg = parseHwnd(argv[2].c_str());
    const int id = std::atoi(argv[3].c_str());
    HWND h = GetDlgItem(dlg, id);
    if (!h) return 1;
    SendMessageTimeoutW(h, CB_SETCURSEL, static_cast<WPARAM>(std::atoi(argv[4].c_str())), 0, SMTO_ABORTIFHUNG,
                        5000, nullptr);
    PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(h));
    return 0;
  }
  if (cmd == "lvrows" && argc >= 4) {
    HWND h = GetDlgItem(parseHwnd(argv[2].c_str()), std::atoi(argv[3].c_str()));
    return h ? listRows(h) : 1;
  }
  if (cmd == "state" && argc >= 4) {
    HWND h = GetDlgItem(parseHwnd(argv[2].c_str()), std::atoi(argv[3].c_str()));
    if (!h) return 1;
    DWORD_PTR checked = 0;
    SendMessageTimeoutW(h, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, &checked);
    out(std::string(IsWindowEnabled(h) ? "1" : "0") + " " + (checked == BST_CHECKED ? "1" : "0") + "\n");
    return 0;
  }
  if (cmd == "lvclick" && argc >= 5) {
    HWND h = GetDlgItem(parseHwnd(argv[2].c_str()), std::atoi(argv[3].c_str()));
    return h ? clickRow(h, std::atoi(argv[4].c_str()), argc >= 6 ? std::atoi(argv[5].c_str()) : 1) : 1;
  }
  if (cmd == "lvrect" && argc >= 5) {
    HWND h = GetDlgItem(parseHwnd(argv[2].c_str()), std::atoi(argv[3].c_str()));
    RECT r{};
    if (!h || !itemRect(h, std::atoi(argv[4].c_str()), LVIR_BOUNDS, r)) return 1;
    MapWindowPoints(h, nullptr, reinterpret_cast<POINT*>(&r), 2);
    out(std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right) + " " +
        std::to_string(r.bottom) + "\n");
    return 0;
  }
  if (cmd == "rect" && argc >= 3) {
    RECT r;
    if (!GetWindowRect(parseHwnd(argv[2].c_str()), &r)) return 1;
    out(std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right) + " " +
        std::to_string(r.bottom) + "\n");
    return 0;
  }
  if (cmd == "settingchange" && argc >= 3) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(wargv[2]),
                               SMTO_ABORTIFHUNG, 5000, &result)
               ? 0
               : 1;
  }
  if (cmd == "syscolor" && argc >= 3) {
    out(std::to_string(GetSysColor(std::atoi(argv[2].c_str()))) + "\n");
    return 0;
  }
  if (cmd == "key" && argc >= 4) {
    return pressKey(static_cast<unsigned>(std::atoi(argv[2].c_str())),
                    static_cast<WORD>(std::atoi(argv[3].c_str())));
  }
  if (cmd == "grab" && argc >= 4) {
    HWND w = CreateWindowExW(0, L"STATIC", L"tarvidrv-grab", WS_POPUP, 0, 0, 1, 1, nullptr,
                             nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!RegisterHotKey(w, 1, static_cast<UINT>(std::atoi(argv[2].c_str())),
                        static_cast<UINT>(std::atoi(argv[3].c_str()))))
      return 1;
    out("grabbed\n");
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    return 0;
  }
  if (cmd == "resources" && argc >= 3) {
    const DWORD pid = static_cast<DWORD>(std::strtoul(argv[2].c_str(), nullptr, 0));
    HANDLE p = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (!p) return 1;
    DWORD handles = 0;
    if (!GetProcessHandleCount(p, &handles) || handles == 0) handles = handlesInTable(pid);
    const DWORD gdi = GetGuiResources(p, GR_GDIOBJECTS);
    const DWORD user = GetGuiResources(p, GR_USEROBJECTS);
    PROCESS_MEMORY_COUNTERS_EX mem{};
    mem.cb = sizeof mem;
    K32GetProcessMemoryInfo(p, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&mem), sizeof mem);
    CloseHandle(p);
    out(std::to_string(handles) + " " + std::to_string(gdi) + " " + std::to_string(user) + " " +
        std::to_string(windowsOf(pid)) + " " + std::to_string(mem.PrivateUsage) + " " +
        std::to_string(mem.WorkingSetSize) + "\n");
    return 0;
  }
  if (cmd == "atom" && argc >= 3) {
    out(std::to_string(GlobalFindAtomW(wargv[2])) + "\n");
    return 0;
  }
  if (cmd == "waittitle" && argc >= 4) {
    out("ready\n");
    for (int i = 3; i < argc; ++i) {
      while (!FindWindowW(wargv[2], wargv[i])) Sleep(5);
      FILETIME now;
      GetSystemTimePreciseAsFileTime(&now);
      const unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
      out(std::to_string(ticks / 10 - 11644473600000000ULL) + "\n");
    }
    return 0;
  }
  if (cmd == "scrollstate") {
    out((GetKeyState(VK_SCROLL) & 1) ? "1\n" : "0\n");
    return 0;
  }
  return 2;
}
