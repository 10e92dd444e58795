#include "monitor/win32/network_state_win32.h"
#include "monitor/win32/main_window.h"

#include <commctrl.h>

#include "common/app.h"
#include "common/win32/dpi.h"
#include "common/win32/registry_store.h"
#include "monitor/win32/popup_glyphs.h"
#include "monitor/win32/token_service_win32.h"

namespace tarvi::win32 {
namespace {

const wchar_t kClassName[] = L"TarviMonMailForm";

}  // namespace

MainWindow::MainWindow(HINSTANCE instance) : instance_(instance) {}

MainWindow::~MainWindow() {
  // The monitor is gone by now: whatever the window still receives while
  // it is destroyed must not reach it.
  monitor_ = nullptr;
  list_.attach(nullptr);
  if (hwnd_) DestroyWindow(hwnd_);
  if (uiFont_) DeleteObject(uiFont_);
}

void MainWindow::attach(Monitor* monitor) {
  monitor_ = monitor;
  list_.attach(monitor ? &monitor->popup().grid : nullptr);
  list_.onClick = [this](int row) {
    if (monitor_) monitor_->clickRow(row);
  };
  list_.onDoubleClick = [this](int row) {
    if (monitor_) monitor_->openRow(row);
  };
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
  hwnd_ = CreateWindowExW(WS_EX_TOPMOST, kClassName, wide(kAppTitle).c_str(),
                          WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME |
                              WS_MINIMIZEBOX | WS_CLIPCHILDREN,
                          CW_USEDEFAULT, CW_USEDEFAULT, 582, 314, nullptr, nullptr, instance_,
                          this);
  if (hwnd_) createControls();
  return hwnd_;
}

HWND MainWindow::button(int id, const wchar_t* caption, bool ownerDraw,
                        const popup_layout::Rect& twips) {
  const auto r = popup_layout::atDpi(twips, static_cast<int>(dpi_));
  HWND h = CreateWindowExW(0, WC_BUTTONW, caption,
                           WS_CHILD | WS_VISIBLE | WS_TABSTOP |
                               (ownerDraw ? BS_OWNERDRAW : BS_PUSHBUTTON),
                           r.left, r.top, r.width, r.height, hwnd_,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
  if (h && uiFont_) SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(uiFont_), FALSE);
  return h;
}

void MainWindow::addTip(HWND control, const wchar_t* text) {
  if (!tip_ || !control) return;
  TTTOOLINFOW ti{};
  ti.cbSize = sizeof ti;
  ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  ti.hwnd = hwnd_;
  ti.uId = reinterpret_cast<UINT_PTR>(control);
  ti.lpszText = const_cast<LPWSTR>(text);
  SendMessageW(tip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
}

void MainWindow::createControls() {
  dpi_ = dpiForWindow(hwnd_);
  if (dpi_ == 0) dpi_ = 96;
  NONCLIENTMETRICSW ncm{};
  ncm.cbSize = sizeof ncm;
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0))
    uiFont_ = CreateFontIndirectW(&ncm.lfMessageFont);

  mailerButton_[0] = button(kMailerButton1, L"", true, popup_layout::kMailer1Rect);
  mailerButton_[1] = button(kMailerButton2, L"", true, popup_layout::kMailer2Rect);
  retrieveButton_ = button(kRetrieveButton, L"", true, popup_layout::kRetrieveRect);
  deleteButton_ = button(kDeleteButton, L"", true, popup_layout::kDeleteRect);
  logButton_ = button(kLogButton, L"L", false, popup_layout::kLogRect);
  closeButton_ = button(kCloseButton, L"OK", false, popup_layout::kCloseRect);
  // Nothing is marked before the first list: retrieve and delete wait.
  EnableWindow(retrieveButton_, FALSE);
  EnableWindow(deleteButton_, FALSE);
  ShowWindow(logButton_, SW_HIDE);

  const auto g = popup_layout::atDpi(popup_layout::kListRect, static_cast<int>(dpi_));
  const RECT rc{g.left, g.top, g.left + g.width, g.top + g.height};
  list_.create(hwnd_, instance_, rc, dpi_);

  tip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                         CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_,
                         nullptr, instance_, nullptr);
  if (tip_) SendMessageW(tip_, TTM_SETMAXTIPWIDTH, 0, 600);
  addTip(mailerButton_[0], L"OPTIONで指定したﾒｰﾗｰを起動します");
  addTip(mailerButton_[1], L"OPTIONで指定したﾒｰﾗｰを起動します");
  addTip(retrieveButton_, L"選択したメールを取得します");
  addTip(deleteButton_, L"選択したメールをサーバから削除します");
  addTip(logButton_, L"ログを表示します");
  addTip(list_.hwnd(), reinterpret_cast<const wchar_t*>(kGridTip));
  addTip(closeButton_, L"ﾎﾟｯﾌﾟｱｯﾌﾟを閉じます");
}

void MainWindow::hide() { ShowWindow(hwnd_, SW_HIDE); }

void MainWindow::show() {
  ShowWindow(hwnd_, SW_SHOWNORMAL);
  SetForegroundWindow(hwnd_);
}

void MainWindow::setCaption(const Text& caption) { SetWindowTextW(hwnd_, wide(caption).c_str()); }

Text MainWindow::caption() {
  const int n = GetWindowTextLengthW(hwnd_);
  std::wstring w(static_cast<std::size_t>(n > 0 ? n : 0) + 1, L'\0');
  const int got = GetWindowTextW(hwnd_, w.data(), n + 1);
  w.resize(static_cast<std::size_t>(got > 0 ? got : 0));
  return fromWide(w);
}

void MainWindow::removeCloseMenu() {
  HMENU menu = GetSystemMenu(hwnd_, FALSE);
  if (menu) RemoveMenu(menu, SC_CLOSE, MF_BYCOMMAND);
}

void MainWindow::setMailerEnabled(int mailer, bool enabled) {
  if (mailer >= 1 && mailer <= 2) EnableWindow(mailerButton_[mailer - 1], enabled ? TRUE : FALSE);
}

void MainWindow::setLogVisible(bool visible) {
  ShowWindow(logButton_, visible ? SW_SHOW : SW_HIDE);
}

void MainWindow::applyLayout(const std::array<std::int16_t, 6>&, std::int16_t width,
                             std::int16_t height) {
  // The column widths reach the list through the popup's grid, which knows
  // the scroll bar's allowance. A stored size that is not a usable window
  // size leaves the window as it is.
  if (width <= 0 || height <= 0) return;
  SetWindowPos(hwnd_, nullptr, 0, 0, twipsToPixels(width, dpi_), twipsToPixels(height, dpi_),
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainWindow::setBusy(bool busy) {
  // The class cursor, so that the hourglass stays wherever the pointer
  // moves over the window until the run is over.
  HCURSOR cursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(busy ? IDC_WAIT : IDC_ARROW));
  SetClassLongPtrW(hwnd_, GCLP_HCURSOR, reinterpret_cast<LONG_PTR>(cursor));
  SetCursor(cursor);
}

// wParam 1 marks the close as the monitor's own, against WM_CLOSE from
// anywhere else.
void MainWindow::unload() { PostMessageW(hwnd_, WM_CLOSE, 1, 0); }

void MainWindow::setGridRedraw(bool on) {
  SendMessageW(list_.hwnd(), WM_SETREDRAW, on ? TRUE : FALSE, 0);
  if (on) InvalidateRect(list_.hwnd(), nullptr, TRUE);
}

void MainWindow::rowsChanged(int rowCount) { list_.setRowCount(rowCount - 1); }

void MainWindow::setColumnWidthsPx(const std::array<int, PopupGrid::kColumns>& px) {
  list_.setColumnWidths(px);
}

std::array<int, PopupGrid::kColumns> MainWindow::columnWidthsPx() { return list_.columnWidths(); }

int MainWindow::gridHeightPx() { return rectOf(list_.hwnd()).height; }

int MainWindow::rowHeightPx() { return list_.rowHeight(); }

int MainWindow::dpi() { return static_cast<int>(dpi_); }

std::pair<int, int> MainWindow::windowSizePx() {
  RECT r{};
  // Minimised, the window's rectangle is the icon's; the size to keep is
  // the one it comes back with. Only the size of the normal position is
  // used, so its workspace coordinates do not matter.
  WINDOWPLACEMENT wp{};
  wp.length = sizeof wp;
  if (IsIconic(hwnd_) && GetWindowPlacement(hwnd_, &wp)) r = wp.rcNormalPosition;
  else GetWindowRect(hwnd_, &r);
  return {r.right - r.left, r.bottom - r.top};
}

std::pair<int, int> MainWindow::layoutSizePx() {
  RECT r{};
  GetClientRect(hwnd_, &r);
  const int dpi = static_cast<int>(dpi_);
  return {r.right - r.left + popup_layout::scaled(popup_layout::kClassicFrameX, dpi),
          r.bottom - r.top + popup_layout::scaled(popup_layout::kClassicFrameY, dpi)};
}

void MainWindow::setGridTooltip(const Text& tip) {
  if (!tip_) return;
  const std::wstring w = wide(tip);
  TTTOOLINFOW ti{};
  ti.cbSize = sizeof ti;
  ti.hwnd = hwnd_;
  ti.uId = reinterpret_cast<UINT_PTR>(list_.hwnd());
  ti.lpszText = const_cast<LPWSTR>(w.c_str());
  SendMessageW(tip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
}

void MainWindow::setActionsEnabled(bool on) {
  EnableWindow(retrieveButton_, on ? TRUE : FALSE);
  EnableWindow(deleteButton_, on ? TRUE : FALSE);
}

bool MainWindow::actionsEnabled() { return IsWindowEnabled(retrieveButton_) != FALSE; }

void MainWindow::setListEnabled(bool on) { EnableWindow(list_.hwnd(), on ? TRUE : FALSE); }

void MainWindow::placeControls(const popup_layout::Resized& l) {
  MoveWindow(list_.hwnd(), l.grid.left, l.grid.top, l.grid.width, l.grid.height, TRUE);
  MoveWindow(closeButton_, l.ok.left, l.ok.top, l.ok.width, l.ok.height, TRUE);
  const auto log = rectOf(logButton_);
  MoveWindow(logButton_, l.logLeft, log.top, log.width, log.height, TRUE);
}

popup_layout::Rect MainWindow::rectOf(HWND control) const {
  RECT r{};
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&r), 2);
  return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

popup_layout::Rect MainWindow::gridRectPx() { return rectOf(list_.hwnd()); }

popup_layout::Rect MainWindow::okRectPx() { return rectOf(closeButton_); }

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

void MainWindow::buttonClicked(int id) {
  // A disabled button cannot be pressed; a click posted to one from outside
  // is no press either.
  if (!monitor_ || !IsWindowEnabled(GetDlgItem(hwnd_, id))) return;
  switch (id) {
    case kMailerButton1: monitor_->startMailerFromPopup(1); break;
    case kMailerButton2: monitor_->startMailerFromPopup(2); break;
    case kRetrieveButton: monitor_->retrieveMarked(); break;
    case kDeleteButton: monitor_->deleteMarked(); break;
    case kLogButton: monitor_->showLog(); break;
    case kCloseButton: monitor_->closePopup(); break;
    default: break;
  }
}

LRESULT MainWindow::handle(UINT msg, WPARAM wp, LPARAM lp) {
  if (tray_ && monitor_)
    if (const auto r = tray_->onMessage(msg, wp, lp, *monitor_)) return *r;
  switch (msg) {
    case Win32TokenService::kReplyMessage: {
      auto [request, reply] = Win32TokenService::take(lp);
      if (monitor_) monitor_->onTokenReply(request, reply);
      return 0;
    }
    case Win32TimerDriver::kRetryMessage:
      if (timers_) timers_->retryPending(wp == 1);
      return 0;
    case Win32NetworkState::kChangedMessage:
      if (monitor_) monitor_->onNetworkChanged();
      return 0;
    case WM_POWERBROADCAST:
      if (monitor_ && wp == PBT_APMSUSPEND) monitor_->onSuspend();
      // A wake-up the user caused comes as both; the monitor takes one.
      if (monitor_ && (wp == PBT_APMRESUMEAUTOMATIC || wp == PBT_APMRESUMESUSPEND)) monitor_->onResume();
      return TRUE;
    case WM_TIMER:
      if (monitor_ && wp >= Win32TimerDriver::kBase && wp < Win32TimerDriver::kBase + kTimerCount) {
        monitor_->onTimer(static_cast<TimerId>(wp - Win32TimerDriver::kBase));
        return 0;
      }
      break;
    case WM_SIZE:
      // The controls are created after the window's first WM_SIZE.
      if (monitor_ && wp != SIZE_MINIMIZED && list_.hwnd()) monitor_->layoutPopup();
      return 0;
    case WM_NOTIFY: {
      LRESULT r = 0;
      if (lp && list_.onNotify(*reinterpret_cast<const NMHDR*>(lp), r)) return r;
      break;
    }
    case WM_DRAWITEM: {
      const auto* di = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
      if (!di || di->CtlType != ODT_BUTTON) break;
      switch (di->CtlID) {
        case kMailerButton1: drawPictureButton(*di, Glyph::Mailer1); return TRUE;
        case kMailerButton2: drawPictureButton(*di, Glyph::Mailer2); return TRUE;
        case kRetrieveButton: drawPictureButton(*di, Glyph::Retrieve); return TRUE;
        case kDeleteButton: drawPictureButton(*di, Glyph::Delete); return TRUE;
        default: break;
      }
      break;
    }
    case WM_COMMAND:
      if (HIWORD(wp) == BN_CLICKED) {
        buttonClicked(LOWORD(wp));
        return 0;
      }
      break;
    case WM_SYSCOMMAND:
      // No Close command: neither the title bar nor Alt+F4 closes the monitor.
      if ((wp & 0xFFF0) == SC_CLOSE) return 0;
      break;
    case WM_CLOSE:
      if (monitor_ && monitor_->closeRequested(wp == 1)) DestroyWindow(hwnd_);
      return 0;
    case WM_QUERYENDSESSION:
      return monitor_ && !monitor_->endSessionQueried() ? FALSE : TRUE;
    case WM_ENDSESSION:
      if (monitor_ && monitor_->sessionEnding(wp != 0)) DestroyWindow(hwnd_);
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
