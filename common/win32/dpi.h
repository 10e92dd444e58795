#pragma once

#include <windows.h>

namespace tarvi::win32 {

// The DPI of the window's monitor where Windows can tell (Windows 10 and
// later), else the screen's.
UINT dpiForWindow(HWND hwnd);
inline int twipsToPixels(int twips, UINT dpi) { return MulDiv(twips, static_cast<int>(dpi), 1440); }
inline int pixelsToTwips(int pixels, UINT dpi) { return MulDiv(pixels, 1440, static_cast<int>(dpi)); }

}  // namespace tarvi::win32
