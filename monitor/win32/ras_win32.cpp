#include "monitor/win32/ras_win32.h"

#include <ras.h>
#include <raserror.h>

#include <cstring>

#include "common/win32/registry_store.h"
#include "common/win32/system_library.h"

namespace tarvi::win32 {
namespace {

using EnumConnectionsFn = DWORD(WINAPI*)(RASCONNW*, DWORD*, DWORD*);
using EnumEntriesFn = DWORD(WINAPI*)(const wchar_t*, const wchar_t*, RASENTRYNAMEW*, DWORD*,
                                     DWORD*);
using GetEntryDialParamsFn = DWORD(WINAPI*)(const wchar_t*, RASDIALPARAMSW*, BOOL*);
using DialFn = DWORD(WINAPI*)(RASDIALEXTENSIONS*, const wchar_t*, RASDIALPARAMSW*, DWORD, void*,
                              HRASCONN*);
using ConnectStatusFn = DWORD(WINAPI*)(HRASCONN, RASCONNSTATUSW*);
using HangUpFn = DWORD(WINAPI*)(HRASCONN);

// A notifier makes the dial asynchronous; progress is read by polling.
void WINAPI ignoreDialEvent(UINT, RASCONNSTATE, DWORD) {}

constexpr DWORD kSlots = 256;

template <typename F>
F fn(FARPROC p) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(p));
}

}  // namespace

Win32Ras::Win32Ras() {
  lib_ = loadSystemLibrary(L"rasapi32.dll");
  if (!lib_) return;
  enumConnections_ = GetProcAddress(lib_, "RasEnumConnectionsW");
  enumEntries_ = GetProcAddress(lib_, "RasEnumEntriesW");
  getEntryDialParams_ = GetProcAddress(lib_, "RasGetEntryDialParamsW");
  dial_ = GetProcAddress(lib_, "RasDialW");
  connectStatus_ = GetProcAddress(lib_, "RasGetConnectStatusW");
  hangUp_ = GetProcAddress(lib_, "RasHangUpW");
}

Win32Ras::~Win32Ras() {
  if (lib_) FreeLibrary(lib_);
}

std::vector<RasHandle> Win32Ras::connections() {
  std::vector<RasHandle> out;
  if (!enumConnections_) return out;
  std::vector<RASCONNW> conns(kSlots);
  conns[0].dwSize = sizeof(RASCONNW);
  DWORD bytes = sizeof(RASCONNW) * kSlots;
  DWORD count = 0;
  fn<EnumConnectionsFn>(enumConnections_)(conns.data(), &bytes, &count);
  for (DWORD i = 0; i < count && i < kSlots; ++i)
    out.push_back(reinterpret_cast<RasHandle>(conns[i].hrasconn));
  return out;
}

std::vector<Text> Win32Ras::entries() {
  std::vector<Text> out;
  if (!enumEntries_) return out;
  std::vector<RASENTRYNAMEW> names(kSlots);
  for (int attempt = 0; attempt < 2; ++attempt) {
    std::memset(names.data(), 0, names.size() * sizeof(RASENTRYNAMEW));
    names[0].dwSize = sizeof(RASENTRYNAMEW);
    DWORD bytes = static_cast<DWORD>(names.size() * sizeof(RASENTRYNAMEW));
    DWORD count = 0;
    const DWORD r = fn<EnumEntriesFn>(enumEntries_)(nullptr, nullptr, names.data(), &bytes, &count);
    if (r == ERROR_BUFFER_TOO_SMALL && attempt == 0) {
      // More entries than slots: room for all of them.
      names.resize(bytes / sizeof(RASENTRYNAMEW) + 1);
      continue;
    }
    if (r != 0) return out;
    for (DWORD i = 0; i < count && i < names.size(); ++i) {
      if (names[i].szEntryName[0] == 0) break;
      out.push_back(fromWide(names[i].szEntryName));
    }
    break;
  }
  return out;
}

std::uint32_t Win32Ras::dial(const Text& entry, RasHandle& handle) {
  if (!dial_) return ERROR_NOT_SUPPORTED;
  RASDIALPARAMSW params{};
  params.dwSize = sizeof params;
  const std::wstring name = wide(entry);
  wcsncpy(params.szEntryName, name.c_str(), RAS_MaxEntryName);
  if (getEntryDialParams_) {
    BOOL hasPassword = FALSE;
    fn<GetEntryDialParamsFn>(getEntryDialParams_)(nullptr, &params, &hasPassword);
  }
  HRASCONN conn = reinterpret_cast<HRASCONN>(handle);
  const DWORD r = fn<DialFn>(dial_)(nullptr, nullptr, &params, 0,
                                    reinterpret_cast<void*>(&ignoreDialEvent), &conn);
  handle = reinterpret_cast<RasHandle>(conn);
  return r;
}

std::uint32_t Win32Ras::connectStatus(RasHandle handle, std::uint32_t& state) {
  if (!connectStatus_) return ERROR_NOT_SUPPORTED;
  RASCONNSTATUSW status{};
  status.dwSize = sizeof status;
  const DWORD r = fn<ConnectStatusFn>(connectStatus_)(reinterpret_cast<HRASCONN>(handle), &status);
  state = static_cast<std::uint32_t>(status.rasconnstate);
  return r;
}

void Win32Ras::hangUp(RasHandle handle) {
  if (hangUp_ && handle) fn<HangUpFn>(hangUp_)(reinterpret_cast<HRASCONN>(handle));
}

}  // namespace tarvi::win32
