#include "settings/win32/ui.h"

#include <commctrl.h>

#include <vector>

#include "common/win32/paths.h"
#include "common/win32/registry_store.h"

namespace tarvi::settings::win32 {

using tarvi::win32::fromWide;
using tarvi::win32::wide;

Text controlText(HWND dialog, int id) {
  HWND h = GetDlgItem(dialog, id);
  const int n = GetWindowTextLengthW(h);
  if (n <= 0) return {};
  std::vector<wchar_t> buf(static_cast<std::size_t>(n) + 1);
  const int got = GetWindowTextW(h, buf.data(), n + 1);
  return fromWide(std::wstring(buf.data(), static_cast<std::size_t>(got > 0 ? got : 0)));
}

void setControlText(HWND dialog, int id, const Text& text) {
  SetDlgItemTextW(dialog, id, wide(text).c_str());
}

bool isChecked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

void setChecked(HWND dialog, int id, bool checked) {
  CheckDlgButton(dialog, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

void enableControl(HWND dialog, int id, bool enabled) {
  EnableWindow(GetDlgItem(dialog, id), enabled ? TRUE : FALSE);
}

Text programFolder() { return tarvi::win32::exeFolder(); }

void Tooltips::attach(HWND dialog) {
  dialog_ = dialog;
  tip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                         CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, dialog, nullptr,
                         reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(dialog, GWLP_HINSTANCE)),
                         nullptr);
  // Long tips wrap instead of running off the screen.
  if (tip_) SendMessageW(tip_, TTM_SETMAXTIPWIDTH, 0, 480);
}

void Tooltips::add(int id, const Text& tip) {
  HWND control = GetDlgItem(dialog_, id);
  if (!tip_ || !control) return;
  std::wstring text = wide(tip);
  TOOLINFOW ti{};
  ti.cbSize = sizeof ti;
  ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  ti.hwnd = dialog_;
  ti.uId = reinterpret_cast<UINT_PTR>(control);
  ti.lpszText = text.data();
  SendMessageW(tip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
}

}  // namespace tarvi::settings::win32
