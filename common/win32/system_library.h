#pragma once

#include <windows.h>

namespace tarvi::win32 {

// Both programs run from wherever the user unpacked them, a downloads
// folder as likely as any, where a DLL named like one of Windows' own may
// lie beside them. These keep the DLLs the programs load, and those these
// load in turn, to System32, as far as Windows lets a program.

// First thing in wWinMain: later loads by name search System32 only (where
// Windows can be told so: Windows 8, or 7 with KB2533623) and never the
// current folder, and the DLLs the programs import on first use are loaded
// from System32 now.
void loadDllsOnlyFromSystem32();

// The named Windows DLL from System32, or null.
HMODULE loadSystemLibrary(const wchar_t* name);

}  // namespace tarvi::win32
