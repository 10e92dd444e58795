#include "monitor/win32/viewer_window.h"

#include "common/win32/dpi.h"
#include "common/win32/registry_store.h"

namespace tarvi::win32 {
namespace {

constexpr wchar_t kClassName[] = L"TarviMonViewer";
// The client area at design time, in twips.
constexpr int kClientWidthTwips = 8580;
constexpr int kClientHeightTwips = 4335;

}  // namespace

ViewerWindow::~ViewerWindow() {
  if (hwnd_) DestroyWindow(hwnd_);
  if (font_) DeleteObject(font_);
}

bool ViewerWindow::create() {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  if (!GetClassInfoExW(instance_, kClassName, &wc)) {
    wc = WNDCLASSEXW{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = proc;
    wc.hInstance = instance_;
    wc.hIcon = LoadIconW(instance_, MAKEINTRESOURCEW(1));
    wc.hIconSm = wc.hIcon;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kClassName;
    if (!RegisterClassExW(&wc)) return false;
  }
  const UINT dpi = owner_ ? dpiForWindow(owner_) : 96;
  RECT r{0, 0, twipsToPixels(kClientWidthTwips, dpi), twipsToPixels(kClientHeightTwips, dpi)};
  const DWORD style = WS_OVERLAPPEDWINDOW;
  AdjustWindowRectEx(&r, style, FALSE, 0);
  // Owned by the popup, so that it stays in front of the always-on-top
  // list it was opened from.
  hwnd_ = CreateWindowExW(0, kClassName, L"Viewer", style, CW_USEDEFAULT, CW_USEDEFAULT,
                          r.right - r.left, r.bottom - r.top, owner_, nullptr, instance_, this);
  if (!hwnd_) return false;
  text_ = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                          WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL |
                              ES_WANTRETURN,
                          0, 0, 0, 0, hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kTextId)),
                          instance_, nullptr);
  if (!text_) {
    DestroyWindow(hwnd_);
    return false;
  }
  // A whole message may be far longer than the 32K an edit control takes
  // by default.
  SendMessageW(text_, EM_SETLIMITTEXT, 0, 0);
  if (!font_) {
    NONCLIENTMETRICSW m{};
    m.cbSize = sizeof m;
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof m, &m, 0))
      font_ = CreateFontIndirectW(&m.lfMessageFont);
  }
  if (font_) SendMessageW(text_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  fit();
  return true;
}

void ViewerWindow::showText(const Text& text) {
  if (!hwnd_ && !create()) return;
  const std::wstring w = wide(text);
  SetWindowTextW(text_, w.c_str());
  ShowWindow(hwnd_, IsIconic(hwnd_) ? SW_RESTORE : SW_SHOW);
  SetForegroundWindow(hwnd_);
}

void ViewerWindow::fit() {
  if (!hwnd_ || !text_) return;
  RECT c{};
  GetClientRect(hwnd_, &c);
  MoveWindow(text_, 0, 0, c.right - c.left, c.bottom - c.top, TRUE);
}

LRESULT CALLBACK ViewerWindow::proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  ViewerWindow* self;
  if (msg == WM_NCCREATE) {
    self = static_cast<ViewerWindow*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    self->hwnd_ = hwnd;
  } else {
    self = reinterpret_cast<ViewerWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  }
  if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
  return self->handle(msg, wp, lp);
}

LRESULT ViewerWindow::handle(UINT msg, WPARAM wp, LPARAM lp) {
  HWND self = hwnd_;
  switch (msg) {
    case WM_SIZE:
      fit();
      return 0;
    case WM_SETFOCUS:
      if (text_) SetFocus(text_);
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrW(self, GWLP_USERDATA, 0);
      hwnd_ = nullptr;
      text_ = nullptr;
      break;
    default:
      break;
  }
  return DefWindowProcW(self, msg, wp, lp);
}

}  // namespace tarvi::win32
