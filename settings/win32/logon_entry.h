// The monitor's entry among the programs Windows starts at logon: the value
// "Tarvi" under HKCU\Software\Microsoft\Windows\CurrentVersion\Run. It is
// Windows' key, not one of the settings, so it is kept here and not in the
// settings table.
#pragma once

#include "common/text.h"

namespace tarvi::settings::win32 {

// True when the value exists, whatever it holds.
bool logonEntryExists();
// Writes `command` as the value (REG_SZ); true on success.
bool setLogonEntry(const Text& command);
// Deletes the value; true when it is gone (or was never there).
bool removeLogonEntry();

}  // namespace tarvi::settings::win32
