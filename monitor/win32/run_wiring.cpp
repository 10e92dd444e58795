#include "monitor/win32/run_wiring.h"

#include <string>

namespace tarvi::win32 {

RunWiring::RunWiring(HINSTANCE instance, MailForm& f, MainWindow& w, CheckWiring& c, Popup& p)
    : form(f),
      window(w),
      check(c),
      popup(p),
      retrieve(f, c.transport, c.cycle, c.tally, c.mailList),
      del(f, c.transport, c.cycle, c.tally, c.mailList),
      viewerWindow(instance, w.hwnd()),
      viewer(c.mailList, viewerWindow) {}

void RunWiring::setBusyPointer(bool busy) {
  HCURSOR cursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(busy ? IDC_WAIT : IDC_ARROW));
  SetClassLongPtrW(window.hwnd(), GCLP_HCURSOR, reinterpret_cast<LONG_PTR>(cursor));
  SetCursor(cursor);
}

void RunWiring::install() {
  retrieve.install();
  del.install();
  for (RunHooks* h : {&retrieve.hooks, &del.hooks}) {
    h->setRetrDelEnabled = [this](bool on) { window.setActionsEnabled(on); };
    h->setGridEnabled = [this](bool on) { window.setGridEnabled(on); };
    h->refreshMarks = [this] { popup.refreshMarks(); };
    h->setBusyPointer = [this](bool busy) { setBusyPointer(busy); };
    h->caption = [this] {
      const int n = GetWindowTextLengthW(window.hwnd());
      std::wstring w(static_cast<std::size_t>(n > 0 ? n : 0) + 1, L'\0');
      const int got = GetWindowTextW(window.hwnd(), w.data(), n + 1);
      return Text(w.begin(), w.begin() + (got > 0 ? got : 0));
    };
  }
  // The end of the check that follows a delete run gives the pointer back.
  auto previous = check.cycle.hooks.defaultPointer;
  check.cycle.hooks.defaultPointer = [this, previous] {
    setBusyPointer(false);
    if (previous) previous();
  };

  viewer.grid = &popup.grid;
  viewer.retrEnabled = [this] {
    return IsWindowEnabled(GetDlgItem(window.hwnd(), MainWindow::kRetrBt)) != FALSE;
  };
  viewer.setActionsEnabled = [this](bool on) { window.setActionsEnabled(on); };
  viewer.rowsChanged = [this] { window.rowsChanged(popup.grid.rowCount()); };

  window.onRetrBt = [this] { retrieve.RetrBt_Click(); };
  window.onDelBt = [this] { del.DelBt_Click(); };
  window.onLogBt = [this] { viewer.LogBt_Click(check.transport.logText); };
  window.onGridDblClick = [this](int row) { viewer.lvwMailBox_DblClick(row); };
}

}  // namespace tarvi::win32
