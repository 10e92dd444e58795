#pragma once

#include <windows.h>

#include <cstdint>

namespace tarvi::settings::win32 {

// The system colour dialog in its short form; the chosen colour (red in the
// low byte) or -1 when the user cancels. The custom colours start black at
// every opening.
std::int32_t pickColor(HWND owner);

}  // namespace tarvi::settings::win32
