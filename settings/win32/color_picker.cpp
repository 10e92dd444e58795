#include "settings/win32/color_picker.h"

#include <commdlg.h>

namespace tarvi::settings::win32 {

std::int32_t pickColor(HWND owner) {
  COLORREF custColors[16] = {};
  CHOOSECOLORW cc{};
  cc.lStructSize = sizeof cc;
  cc.hwndOwner = owner;
  cc.hInstance = reinterpret_cast<HWND>(GetModuleHandleW(nullptr));
  cc.rgbResult = 0;
  cc.lpCustColors = custColors;
  cc.Flags = 0;
  if (!ChooseColorW(&cc)) return -1;
  return static_cast<std::int32_t>(cc.rgbResult & 0xFFFFFF);
}

}  // namespace tarvi::settings::win32
