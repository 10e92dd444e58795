// A stand-in mail program: records the command line it was started with
// (value "recordedCommandLine") and which file it is ("recordedProgram": a
// copy of it also serves as a decoy that must never run) in the registry,
// and ends.
#include <windows.h>

#include "common/win32/registry_store.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  tarvi::win32::RegistryStore store;
  store.put(u"recordedCommandLine", tarvi::win32::fromWide(GetCommandLineW()));
  wchar_t self[MAX_PATH] = L"";
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  store.put(u"recordedProgram", tarvi::win32::fromWide(self));
  return 0;
}
