#include "monitor/win32/main_window.h"

#include <commctrl.h>

#include "common/win32/dpi.h"
#include "common/win32/registry_store.h"
#include "monitor/win32/popup_glyphs.h"

namespace tarvi::win32 {
namespace {

const wchar_t kClassName[] = L"TarviMonMailForm";

}  // namespace

MainWindow::MainWindow(HINSTANCE instance) : instance_(instance) {}

MainWindow::~MainWindow() {
  if (hwnd_) DestroyWindow(hwnd_);
  if (uiFont_) DeleteObject(uiFont_);
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
                              WS_MINIMIZEBOX | WS_CLIPCHILDREN,
                          CW_USEDEFAULT, CW_USEDEFAULT, 582, 314, nullptr, nullptr, instance_,
                          this);
  if (hwnd_) createControls();
  return hwnd_;
}

void MainWindow::attachPopup(Popup* popup) {
  popup_ = popup;
  list_.attach(popup ? &popup->grid : nullptr);
  list_.onClick = [this](int row) {
    if (popup_) popup_->lvwMailBox_Click(row);
  };
  list_.onDoubleClick = [this](int row) {
    if (onGridDblClick) onGridDblClick(row);
  };
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

  mailBt_[0] = button(kMailBt1, L"", true, popup_layout::kMailBt1);
  mailBt_[1] = button(kMailBt2, L"", true, popup_layout::kMailBt2);
  retrBt_ = button(kRetrBt, L"", true, popup_layout::kRetrBt);
  delBt_ = button(kDelBt, L"", true, popup_layout::kDelBt);
  logBt_ = button(kLogBt, L"L", false, popup_layout::kLogBt);
  okBt_ = button(kOkBt, L"OK", false, popup_layout::kOkBt);
  // Nothing is marked before the first list: retrieve and delete wait.
  EnableWindow(retrBt_, FALSE);
  EnableWindow(delBt_, FALSE);
  ShowWindow(logBt_, SW_HIDE);

  const auto g = popup_layout::atDpi(popup_layout::kGrid, static_cast<int>(dpi_));
  const RECT rc{g.left, g.top, g.left + g.width, g.top + g.height};
  list_.create(hwnd_, instance_, rc, dpi_);

  tip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                         CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_,
                         nullptr, instance_, nullptr);
  if (tip_) SendMessageW(tip_, TTM_SETMAXTIPWIDTH, 0, 600);
  addTip(mailBt_[0], L"OPTIONで指定したﾒｰﾗｰを起動します");
  addTip(mailBt_[1], L"OPTIONで指定したﾒｰﾗｰを起動します");
  addTip(retrBt_, L"選択したメールを取得します");
  addTip(delBt_, L"選択したメールをサーバから削除します");
  addTip(logBt_, L"ログを表示します");
  addTip(list_.hwnd(), reinterpret_cast<const wchar_t*>(kGridTip));
  addTip(okBt_, L"ﾎﾟｯﾌﾟｱｯﾌﾟを閉じます");
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

void MainWindow::setMailerEnabled(int mailer, bool enabled) {
  if (mailer >= 1 && mailer <= 2) EnableWindow(mailBt_[mailer - 1], enabled ? TRUE : FALSE);
}

void MainWindow::setLogVisible(bool visible) { ShowWindow(logBt_, visible ? SW_SHOW : SW_HIDE); }

void MainWindow::applyLayout(const std::array<std::int16_t, 6>&, std::int16_t width,
                             std::int16_t height) {
  // Widths reset by the settings program show at once, not only after the
  // next check; initGrid also keeps the scroll-bar allowance in step.
  if (popup_) popup_->initGrid();
  // A stored size that is not a usable window size leaves the window as it is.
  if (width <= 0 || height <= 0) return;
  SetWindowPos(hwnd_, nullptr, 0, 0, twipsToPixels(width, dpi_), twipsToPixels(height, dpi_),
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

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
  EnableWindow(retrBt_, on ? TRUE : FALSE);
  EnableWindow(delBt_, on ? TRUE : FALSE);
}

void MainWindow::setGridEnabled(bool on) { EnableWindow(list_.hwnd(), on ? TRUE : FALSE); }

void MainWindow::placeControls(const popup_layout::Resized& l) {
  MoveWindow(list_.hwnd(), l.grid.left, l.grid.top, l.grid.width, l.grid.height, TRUE);
  MoveWindow(okBt_, l.ok.left, l.ok.top, l.ok.width, l.ok.height, TRUE);
  const auto log = rectOf(logBt_);
  MoveWindow(logBt_, l.logLeft, log.top, log.width, log.height, TRUE);
}

popup_layout::Rect MainWindow::rectOf(HWND control) const {
  RECT r{};
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&r), 2);
  return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

popup_layout::Rect MainWindow::gridRectPx() { return rectOf(list_.hwnd()); }

popup_layout::Rect MainWindow::okRectPx() { return rectOf(okBt_); }

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
    case WM_SIZE:
      if (popup_ && wp != SIZE_MINIMIZED && list_.hwnd()) popup_->Form_Resize();
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
        case kMailBt1: drawPictureButton(*di, Glyph::Mailer1); return TRUE;
        case kMailBt2: drawPictureButton(*di, Glyph::Mailer2); return TRUE;
        case kRetrBt: drawPictureButton(*di, Glyph::Retrieve); return TRUE;
        case kDelBt: drawPictureButton(*di, Glyph::Delete); return TRUE;
        default: break;
      }
      break;
    }
    case WM_COMMAND:
      if (HIWORD(wp) == BN_CLICKED) {
        switch (LOWORD(wp)) {
          case kOkBt:
            if (popup_) popup_->OkBt_Click();
            return 0;
          case kMailBt1:
          case kMailBt2:
            if (onMailBt) onMailBt(LOWORD(wp) == kMailBt1 ? 1 : 2);
            return 0;
          case kRetrBt:
            if (onRetrBt && IsWindowEnabled(retrBt_)) onRetrBt();
            return 0;
          case kDelBt:
            if (onDelBt && IsWindowEnabled(delBt_)) onDelBt();
            return 0;
          case kLogBt:
            if (onLogBt) onLogBt();
            return 0;
          default:
            break;
        }
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
      endAgreed_ = true;
      return TRUE;
    case WM_ENDSESSION:
      // When another program cancels the end of the session, the user has
      // still agreed to end the monitor, and the unload query has already
      // released the hotkeys and the hook: going on without them would
      // leave a monitor that nothing but the task manager could end.
      if (wp || endAgreed_) DestroyWindow(hwnd_);
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
