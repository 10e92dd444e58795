#pragma once

#include <windows.h>

#include "common/text.h"

namespace tarvi::settings::win32 {

// The open-file dialog with a preview pane: the chosen file's full path, or
// an empty text when the user cancels.
Text pickFile(HWND owner, const Text& description, const Text& pattern, const Text& folder,
              const Text& title);

}  // namespace tarvi::settings::win32
