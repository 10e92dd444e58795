// Stands in for a Windows DLL planted beside a program: whichever process
// loads it leaves "<this DLL's path>.<program>.loaded" beside it, so that a
// test sees which program took it in place of the system's copy.
#include <windows.h>

#include <string>

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, void*) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t dll[MAX_PATH];
  wchar_t exe[MAX_PATH];
  if (!GetModuleFileNameW(self, dll, MAX_PATH) || !GetModuleFileNameW(nullptr, exe, MAX_PATH))
    return TRUE;
  const wchar_t* program = wcsrchr(exe, L'\\');
  const std::wstring marker = std::wstring(dll) + L"." + (program ? program + 1 : exe) + L".loaded";
  HANDLE file = CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  // Loading goes on, as a planted DLL's would: the program runs with it.
  return TRUE;
}
