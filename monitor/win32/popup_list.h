// The popup's mail list: a virtual report-mode ListView that shows the rows
// of the PopupGrid (texts on demand, the account's colours and the bold
// style through custom draw, the attachment symbol drawn into column 2).
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <array>
#include <functional>

#include "monitor/popup/popup_model.h"

namespace tarvi::win32 {

class PopupList {
 public:
  static constexpr int kId = 110;

  ~PopupList();
  HWND create(HWND parent, HINSTANCE instance, const RECT& rc, UINT dpi);
  HWND hwnd() const { return hwnd_; }
  void attach(const PopupGrid* grid) { grid_ = grid; }

  void setRowCount(int messageRows);
  void setColumnWidths(const std::array<int, PopupGrid::kColumns>& px);
  std::array<int, PopupGrid::kColumns> columnWidths() const;
  int rowHeight();

  // WM_NOTIFY from the list or its header; true when handled.
  bool onNotify(const NMHDR& hdr, LRESULT& result);

  // Row of the model (1-based) under a click; 0 for none.
  std::function<void(int row)> onClick;
  std::function<void(int row)> onDoubleClick;

 private:
  LRESULT customDraw(NMLVCUSTOMDRAW& cd);
  int hitRow(POINT clientPt) const;

  HWND hwnd_ = nullptr;
  HFONT font_ = nullptr;
  HFONT bold_ = nullptr;
  const PopupGrid* grid_ = nullptr;
  int rowHeight_ = 0;
};

}  // namespace tarvi::win32
