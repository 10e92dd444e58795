#pragma once

#include <windows.h>

namespace tarvi::win32 {

// Both programs run from wherever the user unpacked them, a downloads
// folder as likely as any, where a DLL named like one of Windows' own may
// lie beside them. These keep the DLLs the programs load, and those these
// load in turn, to System32, as far as Windows lets a program.

// First thing in wWinMain: later loads by name search System32 only (where
// Windows can be told so: Windows 8, or 7 with KB2533623) and never the
// current folder, and the DLLs the programs import on first use come from
// System32 when first used, each after those it loads by name.
void loadDllsOnlyFromSystem32();

// Those DLLs take a while to load (the TLS libraries above all), which a
// window would wait for at start-up or, on first use, in the middle of a
// dialogue: this loads them on a thread of its own, once the program's own
// start-up no longer needs the loader. A first use before that thread got
// there loads what it needs itself.
void startLoadingDelayedDlls();

// The named Windows DLL from System32, or null.
HMODULE loadSystemLibrary(const wchar_t* name);

}  // namespace tarvi::win32
