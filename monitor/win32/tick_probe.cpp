#include "monitor/win32/tick_probe.h"

#include <windows.h>

#include <cstdio>

namespace tarvi::win32 {
namespace {

FILE* probeLog = nullptr;
LARGE_INTEGER frequency{};
LARGE_INTEGER lastTick{};

// Windows 8 and later; called by name, it would keep the monitor from
// starting at all on Windows 7.
using PreciseTimeFn = VOID(WINAPI*)(LPFILETIME);
PreciseTimeFn preciseTime = nullptr;

long long unixMicroseconds() {
  FILETIME now;
  if (preciseTime)
    preciseTime(&now);
  else
    GetSystemTimeAsFileTime(&now);
  const unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return static_cast<long long>(ticks / 10 - 11644473600000000ULL);
}

void CALLBACK onTick(HWND, UINT, UINT_PTR, DWORD) {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  const double gapMs = static_cast<double>(now.QuadPart - lastTick.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
  lastTick = now;
  if (gapMs > 15.0) {
    std::fprintf(probeLog, "%lld %.1f\n", unixMicroseconds(), gapMs);
    std::fflush(probeLog);
  }
}

}  // namespace

void startTickProbeIfAsked() {
  wchar_t path[MAX_PATH];
  const DWORD n = GetEnvironmentVariableW(L"TARVI_TICK_LOG", path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  probeLog = _wfopen(path, L"a");
  if (!probeLog) return;
  preciseTime = reinterpret_cast<PreciseTimeFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetSystemTimePreciseAsFileTime")));
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&lastTick);
  // A thread timer: its ticks are dispatched by every message loop of the
  // thread, the nested ones of message boxes and waits included.
  SetTimer(nullptr, 0, 10, onTick);
}

}  // namespace tarvi::win32
