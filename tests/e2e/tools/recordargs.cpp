// A stand-in mail program: records the command line it was started with in
// the registry (value "recordedCommandLine") and ends.
#include <windows.h>

#include "common/win32/registry_store.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  tarvi::win32::RegistryStore store;
  store.put(u"recordedCommandLine", tarvi::win32::fromWide(GetCommandLineW()));
  return 0;
}
