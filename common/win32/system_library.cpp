#include "common/win32/system_library.h"

#include <delayimp.h>

#include <initializer_list>
#include <string>

namespace tarvi::win32 {
namespace {

// Taken at run time: called by name, these would keep the programs from
// starting at all on a Windows 7 without KB2533623.
FARPROC kernel32Function(const char* name) {
  return GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name);
}

// Where SetDefaultDllDirectories exists, LoadLibraryEx knows the
// LOAD_LIBRARY_SEARCH_* flags; elsewhere it refuses them.
bool searchFlagsKnown() {
  static const bool known = kernel32Function("SetDefaultDllDirectories") != nullptr;
  return known;
}

// The delay-loaded DLLs (CMakeLists.txt's DELAYED_DLLS), each with those of
// them that it, or Windows' code inside it, loads by name (Schannel takes
// crypt32). Not every such load keeps to the search set by
// loadDllsOnlyFromSystem32: not on a Windows 7 without it, nor Wine's delay
// loads. A DLL already loaded is the one a load by its name gets, so those
// are loaded from System32 first.
struct DelayedDll {
  const char* name;
  std::initializer_list<const wchar_t*> before;
};
const DelayedDll kDelayedDlls[] = {
    {"bcrypt.dll", {}},
    {"crypt32.dll", {L"bcrypt.dll"}},
    {"secur32.dll", {L"bcrypt.dll", L"crypt32.dll"}},
    {"winmm.dll", {}},
    {"winhttp.dll", {L"bcrypt.dll", L"crypt32.dll", L"secur32.dll"}},
    {"iphlpapi.dll", {}},
};

bool sameName(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b)
    if ((*a | 0x20) != (*b | 0x20)) return false;
  return *a == *b;
}

std::wstring widened(const char* name) {
  std::wstring w;
  for (const char* c = name; *c; ++c) w += static_cast<wchar_t>(static_cast<unsigned char>(*c));
  return w;
}

// The delay-loaded DLLs come here instead of through LoadLibrary's search,
// so that even a system that cannot restrict the search takes Windows'
// copies.
FARPROC WINAPI loadDelayedDll(unsigned notification, PDelayLoadInfo info) {
  if (notification != dliNotePreLoadLibrary || !info->szDll) return nullptr;
  for (const DelayedDll& dll : kDelayedDlls)
    if (sameName(dll.name, info->szDll))
      for (const wchar_t* first : dll.before) loadSystemLibrary(first);
  return reinterpret_cast<FARPROC>(loadSystemLibrary(widened(info->szDll).c_str()));
}

DWORD WINAPI preloadDelayedDlls(void*) {
  for (const DelayedDll& dll : kDelayedDlls) loadSystemLibrary(widened(dll.name).c_str());
  return 0;
}

}  // namespace

void loadDllsOnlyFromSystem32() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  if (auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
          reinterpret_cast<void*>(kernel32Function("SetDefaultDllDirectories"))))
    setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
  // Without the above, this at least takes the current folder out of the
  // search (the program's own folder stays in it).
  SetDllDirectoryW(L"");
  // The network state is asked for at once, and the system's sockets may
  // load this one by name before that.
  loadSystemLibrary(L"iphlpapi.dll");
}

void startLoadingDelayedDlls() {
  if (HANDLE loader = CreateThread(nullptr, 0, preloadDelayedDlls, nullptr, 0, nullptr)) CloseHandle(loader);
}

HMODULE loadSystemLibrary(const wchar_t* name) {
  if (searchFlagsKnown()) return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  wchar_t folder[MAX_PATH];
  const UINT n = GetSystemDirectoryW(folder, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return nullptr;
  const std::wstring path = std::wstring(folder, n) + L'\\' + name;
  // With a full path, the DLL's own imports are looked for beside it, in
  // System32, before the program's folder.
  return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace tarvi::win32

// The delay-load helper asks this hook before it loads a DLL itself. The
// CRTs' delayimp.h declare it (extern) with and without const.
extern "C" {
#ifdef _MSC_VER
const
#endif
PfnDliHook __pfnDliNotifyHook2 = tarvi::win32::loadDelayedDll;
}
