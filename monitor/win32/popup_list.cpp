#include "monitor/win32/popup_list.h"

#include <commctrl.h>

#include <algorithm>
#include <cwchar>

#include "monitor/win32/popup_glyphs.h"

namespace tarvi::win32 {
namespace {

constexpr wchar_t kFace[] = L"ＭＳ Ｐゴシック";

int CALLBACK faceFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}

bool faceInstalled(const wchar_t* face) {
  HDC dc = GetDC(nullptr);
  LOGFONTW lf{};
  lf.lfCharSet = DEFAULT_CHARSET;
  wcsncpy(lf.lfFaceName, face, LF_FACESIZE - 1);
  bool found = false;
  EnumFontFamiliesExW(dc, &lf, faceFound, reinterpret_cast<LPARAM>(&found), 0);
  ReleaseDC(nullptr, dc);
  return found;
}

// The list's font at 9 points; without the Japanese face, the system's
// message font (which can show Japanese on a Japanese system) in that size.
HFONT makeFont(UINT dpi, bool bold) {
  LOGFONTW lf{};
  NONCLIENTMETRICSW ncm{};
  ncm.cbSize = sizeof ncm;
  if (faceInstalled(kFace)) {
    wcsncpy(lf.lfFaceName, kFace, LF_FACESIZE - 1);
    lf.lfCharSet = SHIFTJIS_CHARSET;
  } else if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0)) {
    lf = ncm.lfMessageFont;
  } else {
    wcsncpy(lf.lfFaceName, L"MS Shell Dlg 2", LF_FACESIZE - 1);
    lf.lfCharSet = DEFAULT_CHARSET;
  }
  lf.lfHeight = -MulDiv(9, static_cast<int>(dpi), 72);
  lf.lfWidth = 0;
  lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
  lf.lfQuality = DEFAULT_QUALITY;
  return CreateFontIndirectW(&lf);
}

COLORREF colourOf(std::int32_t c) {
  // Colours with the high bit set name a system colour, as in the colour
  // dialogs of old; the rest are plain RGB values.
  const auto u = static_cast<std::uint32_t>(c);
  if (u & 0x80000000u) return GetSysColor(static_cast<int>(u & 0xFF));
  return static_cast<COLORREF>(u & 0xFFFFFF);
}

}  // namespace

PopupList::~PopupList() {
  if (font_) DeleteObject(font_);
  if (bold_) DeleteObject(bold_);
}

HWND PopupList::create(HWND parent, HINSTANCE instance, const RECT& rc, UINT dpi) {
  hwnd_ = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                          WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA |
                              LVS_SINGLESEL | LVS_SHOWSELALWAYS,
                          rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, parent,
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(kId)), instance, nullptr);
  if (!hwnd_) return nullptr;
  ListView_SetExtendedListViewStyle(hwnd_, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES |
                                               LVS_EX_DOUBLEBUFFER);
  font_ = makeFont(dpi, false);
  bold_ = makeFont(dpi, true);
  SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  static const wchar_t* const headers[PopupGrid::kColumns] = {L"", L"", L"", L"差出人", L"件名",
                                                              L"", L""};
  for (int c = 0; c < PopupGrid::kColumns; ++c) {
    LVCOLUMNW col{};
    col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    col.pszText = const_cast<LPWSTR>(headers[c]);
    col.cx = 0;
    col.iSubItem = c;
    ListView_InsertColumn(hwnd_, c, &col);
  }
  return hwnd_;
}

void PopupList::setRowCount(int messageRows) {
  ListView_SetItemCountEx(hwnd_, messageRows < 0 ? 0 : messageRows, LVSICF_NOSCROLL);
  InvalidateRect(hwnd_, nullptr, FALSE);
}

void PopupList::setColumnWidths(const std::array<int, PopupGrid::kColumns>& px) {
  // The list view reads negative widths as "fit the contents" (a subject
  // column narrower than the scroll-bar allowance comes out below 0): such
  // a column is shown closed instead, and the stored width is left alone.
  for (int c = 0; c < PopupGrid::kColumns; ++c)
    ListView_SetColumnWidth(hwnd_, c, std::max(0, px[static_cast<std::size_t>(c)]));
}

std::array<int, PopupGrid::kColumns> PopupList::columnWidths() const {
  std::array<int, PopupGrid::kColumns> px{};
  for (int c = 0; c < PopupGrid::kColumns; ++c)
    px[static_cast<std::size_t>(c)] = ListView_GetColumnWidth(hwnd_, c);
  return px;
}

int PopupList::rowHeight() {
  RECT r{};
  if (ListView_GetItemCount(hwnd_) > 0 && ListView_GetItemRect(hwnd_, 0, &r, LVIR_BOUNDS))
    rowHeight_ = r.bottom - r.top;
  if (rowHeight_ <= 0) {
    // No row to measure yet: the font's height with the list's padding.
    HDC dc = GetDC(hwnd_);
    HGDIOBJ old = SelectObject(dc, font_);
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    SelectObject(dc, old);
    ReleaseDC(hwnd_, dc);
    return tm.tmHeight + 4;
  }
  return rowHeight_;
}

int PopupList::hitRow(POINT pt) const {
  LVHITTESTINFO hit{};
  hit.pt = pt;
  const int item = ListView_SubItemHitTest(hwnd_, &hit);
  return item >= 0 ? item + 1 : 0;
}

bool PopupList::onNotify(const NMHDR& hdr, LRESULT& result) {
  if (!hwnd_) return false;
  HWND header = ListView_GetHeader(hwnd_);
  if (hdr.hwndFrom == header) {
    // Column 6 holds the message number for the program's own use: it must
    // not be dragged open.
    if (hdr.code == HDN_BEGINTRACKW || hdr.code == HDN_BEGINTRACKA ||
        hdr.code == HDN_DIVIDERDBLCLICKW || hdr.code == HDN_DIVIDERDBLCLICKA) {
      const auto& h = reinterpret_cast<const NMHEADERW&>(hdr);
      if (h.iItem == PopupGrid::kColumns - 1) {
        result = TRUE;
        return true;
      }
    }
    return false;
  }
  if (hdr.hwndFrom != hwnd_) return false;
  switch (hdr.code) {
    case LVN_GETDISPINFOW: {
      auto& di = const_cast<NMLVDISPINFOW&>(reinterpret_cast<const NMLVDISPINFOW&>(hdr));
      if ((di.item.mask & LVIF_TEXT) && di.item.pszText && di.item.cchTextMax > 0) {
        di.item.pszText[0] = 0;
        if (grid_) {
          const Text t = grid_->cell(di.item.iItem + 1, di.item.iSubItem);
          const std::size_t n =
              std::min<std::size_t>(t.size(), static_cast<std::size_t>(di.item.cchTextMax - 1));
          for (std::size_t i = 0; i < n; ++i) di.item.pszText[i] = static_cast<wchar_t>(t[i]);
          di.item.pszText[n] = 0;
        }
      }
      result = 0;
      return true;
    }
    case NM_CUSTOMDRAW:
      result = customDraw(const_cast<NMLVCUSTOMDRAW&>(reinterpret_cast<const NMLVCUSTOMDRAW&>(hdr)));
      return true;
    case NM_CLICK:
    case NM_DBLCLK: {
      const auto& ia = reinterpret_cast<const NMITEMACTIVATE&>(hdr);
      const int row = hitRow(ia.ptAction);
      auto& handler = hdr.code == NM_CLICK ? onClick : onDoubleClick;
      if (handler) handler(row);
      result = 0;
      return true;
    }
    default:
      return false;
  }
}

LRESULT PopupList::customDraw(NMLVCUSTOMDRAW& cd) {
  switch (cd.nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
      return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT:
      // The rows keep their account's colours even when selected: the mark
      // in column 1 is what shows a chosen row.
      cd.nmcd.uItemState &= ~static_cast<UINT>(CDIS_SELECTED);
      return CDRF_NOTIFYSUBITEMDRAW;
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM: {
      const int row = static_cast<int>(cd.nmcd.dwItemSpec) + 1;
      if (!grid_ || row >= grid_->rowCount() || cd.iSubItem >= PopupGrid::kColumns - 1) {
        cd.clrText = GetSysColor(COLOR_WINDOWTEXT);
        cd.clrTextBk = GetSysColor(COLOR_WINDOW);
        SelectObject(cd.nmcd.hdc, font_);
        return CDRF_NEWFONT;
      }
      const GridRow& r = grid_->row(row);
      cd.clrText = colourOf(r.fore);
      cd.clrTextBk = colourOf(r.back);
      const bool bold = r.bold && (cd.iSubItem == 3 || cd.iSubItem == 4);
      SelectObject(cd.nmcd.hdc, bold ? bold_ : font_);
      LRESULT flags = CDRF_NEWFONT;
      if (cd.iSubItem == 2 && r.picture) flags |= CDRF_NOTIFYPOSTPAINT;
      return flags;
    }
    case CDDS_ITEMPOSTPAINT | CDDS_SUBITEM: {
      RECT cell{};
      if (ListView_GetSubItemRect(hwnd_, static_cast<int>(cd.nmcd.dwItemSpec), cd.iSubItem,
                                  LVIR_BOUNDS, &cell))
        drawAttachment(cd.nmcd.hdc, cell);
      return CDRF_DODEFAULT;
    }
    default:
      return CDRF_DODEFAULT;
  }
}

}  // namespace tarvi::win32
