#pragma once

#include <windows.h>

#include "common/store.h"

namespace tarvi::settings::win32 {

// The options dialog "OPTION" with its general and account pages. Returns
// when the user presses OK (after the general options were written) or
// Cancel.
void runOptionDialog(HINSTANCE instance, SettingsStore& store);

}  // namespace tarvi::settings::win32
