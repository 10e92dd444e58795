#include "monitor/win32/main_window.h"

#include "common/win32/dpi.h"
#include "common/win32/registry_store.h"

namespace tarvi::win32 {
namespace {

const wchar_t kClassName[] = L"TarviMonMailForm";

}  // namespace

MainWindow::MainWindow(HINSTANCE instance) : instance_(instance) {}

MainWindow::~MainWindow() {
  if (hwnd_) DestroyWindow(hwnd_);
}

HWND MainWindow::create() {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &MainWindow::proc;
  wc.hInstance = instance_;
  wc.hIcon = LoadIconW(instance_, MAKEINTRESOURCEW(1));
  wc.hIconSm = wc.hIcon;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClassName;
  RegisterClassExW(&wc);
  hwnd_ = CreateWindowExW(WS_EX_TOPMOST, kClassName, L"Tarviメールチェッカー",
                          WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME |
                              WS_MINIMIZEBOX,
                          CW_USEDEFAULT, CW_USEDEFAULT, 582, 314, nullptr, nullptr, instance_,
                          this);
  return hwnd_;
}

void MainWindow::hide() { ShowWindow(hwnd_, SW_HIDE); }

void MainWindow::show() {
  ShowWindow(hwnd_, SW_SHOWNORMAL);
  SetForegroundWindow(hwnd_);
}

void MainWindow::setCaption(const Text& caption) { SetWindowTextW(hwnd_, wide(caption).c_str()); }

void MainWindow::removeCloseMenu() {
  HMENU menu = GetSystemMenu(hwnd_, FALSE);
  if (menu) RemoveMenu(menu, SC_CLOSE, MF_BYCOMMAND);
}

void MainWindow::setMailerEnabled(int, bool) {}

void MainWindow::setLogVisible(bool) {}

void MainWindow::applyLayout(const std::array<std::int16_t, 6>&, std::int16_t width,
                             std::int16_t height) {
  // A stored size that is not a usable window size leaves the window as it is.
  if (width <= 0 || height <= 0) return;
  const UINT dpi = dpiForWindow(hwnd_);
  SetWindowPos(hwnd_, nullptr, 0, 0, twipsToPixels(width, dpi), twipsToPixels(height, dpi),
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainWindow::unload() { PostMessageW(hwnd_, WM_CLOSE, 1, 0); }

LRESULT CALLBACK MainWindow::proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  MainWindow* self;
  if (msg == WM_NCCREATE) {
    self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    self->hwnd_ = hwnd;
  } else {
    self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  }
  if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
  return self->handle(msg, wp, lp);
}

LRESULT MainWindow::handle(UINT msg, WPARAM wp, LPARAM lp) {
  if (extraHandler) {
    LRESULT r = 0;
    if (extraHandler(msg, wp, lp, r)) return r;
  }
  switch (msg) {
    case WM_TIMER:
      if (form_ && wp >= Win32TimerDriver::kBase && wp < Win32TimerDriver::kBase + kTimerCount) {
        form_->onTimer(static_cast<TimerId>(wp - Win32TimerDriver::kBase));
        return 0;
      }
      break;
    case WM_SYSCOMMAND:
      // No Close command: neither the title bar nor Alt+F4 closes the monitor.
      if ((wp & 0xFFF0) == SC_CLOSE) return 0;
      break;
    case WM_CLOSE:
      // Only our own unload (wParam 1) gets here legitimately.
      if (wp != 1 || unloading_) return 0;
      unloading_ = true;
      if (form_ && !form_->queryUnload()) {
        unloading_ = false;
        return 0;
      }
      DestroyWindow(hwnd_);
      return 0;
    case WM_QUERYENDSESSION:
      // Windows is ending or the user logs off: the same question as at "終了".
      if (unloading_) return TRUE;
      unloading_ = true;
      if (form_ && !form_->queryUnload()) {
        unloading_ = false;
        return FALSE;
      }
      return TRUE;
    case WM_ENDSESSION:
      if (wp) DestroyWindow(hwnd_);
      else unloading_ = false;
      return 0;
    case WM_DESTROY:
      hwnd_ = nullptr;
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd_, msg, wp, lp);
}

}  // namespace tarvi::win32
