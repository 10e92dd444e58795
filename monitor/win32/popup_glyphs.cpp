#include "monitor/win32/popup_glyphs.h"

#include <algorithm>

namespace tarvi::win32 {
namespace {

// Glyphs are designed on a 16-unit square; s() maps a unit to pixels.
struct Canvas {
  HDC dc;
  int x0, y0;
  double unit;
  int x(double u) const { return x0 + static_cast<int>(u * unit + 0.5); }
  int y(double u) const { return y0 + static_cast<int>(u * unit + 0.5); }
  void line(double ax, double ay, double bx, double by) const {
    MoveToEx(dc, x(ax), y(ay), nullptr);
    LineTo(dc, x(bx), y(by));
  }
};

class PenScope {
 public:
  PenScope(HDC dc, COLORREF colour, int width, HBRUSH brush)
      : dc_(dc), pen_(CreatePen(PS_SOLID, width, colour)) {
    oldPen_ = SelectObject(dc_, pen_);
    oldBrush_ = SelectObject(dc_, brush);
  }
  ~PenScope() {
    SelectObject(dc_, oldPen_);
    SelectObject(dc_, oldBrush_);
    DeleteObject(pen_);
  }
  PenScope(const PenScope&) = delete;
  PenScope& operator=(const PenScope&) = delete;

 private:
  HDC dc_;
  HPEN pen_;
  HGDIOBJ oldPen_, oldBrush_;
};

void drawEnvelope(const Canvas& c, COLORREF ink, COLORREF paper, int width) {
  HBRUSH fill = CreateSolidBrush(paper);
  {
    PenScope p(c.dc, ink, width, fill);
    Rectangle(c.dc, c.x(1), c.y(3), c.x(15), c.y(13));
    c.line(1, 3, 8, 9);
    c.line(8, 9, 15, 3);
  }
  DeleteObject(fill);
}

}  // namespace

void drawPictureButton(const DRAWITEMSTRUCT& item, Glyph glyph) {
  RECT rc = item.rcItem;
  const bool pushed = (item.itemState & ODS_SELECTED) != 0;
  const bool disabled = (item.itemState & ODS_DISABLED) != 0;
  DrawFrameControl(item.hDC, &rc, DFC_BUTTON,
                   DFCS_BUTTONPUSH | (pushed ? DFCS_PUSHED : 0) | (disabled ? DFCS_INACTIVE : 0));
  const int side = std::min(rc.right - rc.left, rc.bottom - rc.top);
  const int size = std::max(8, side - 4);
  Canvas c{item.hDC, rc.left + (rc.right - rc.left - size) / 2 + (pushed ? 1 : 0),
           rc.top + (rc.bottom - rc.top - size) / 2 + (pushed ? 1 : 0), size / 16.0};
  const int w = std::max(1, size / 10);
  const COLORREF grey = GetSysColor(COLOR_GRAYTEXT);
  auto colour = [&](COLORREF c0) { return disabled ? grey : c0; };
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  switch (glyph) {
    case Glyph::Mailer1:
    case Glyph::Mailer2: {
      drawEnvelope(c, colour(RGB(0, 0, 128)),
                   disabled ? face : (glyph == Glyph::Mailer1 ? RGB(255, 255, 224) : RGB(224, 255, 224)),
                   w);
      // The mailer's number, as two or one small bars under the flap.
      PenScope p(c.dc, colour(glyph == Glyph::Mailer1 ? RGB(0, 0, 192) : RGB(0, 128, 0)), w,
                 static_cast<HBRUSH>(GetStockObject(NULL_BRUSH)));
      c.line(6, 11, 10, 11);
      if (glyph == Glyph::Mailer2) c.line(6, 9.5, 10, 9.5);
      break;
    }
    case Glyph::Retrieve: {
      PenScope p(c.dc, colour(RGB(0, 96, 0)), w,
                 static_cast<HBRUSH>(GetStockObject(NULL_BRUSH)));
      c.line(8, 1, 8, 10);
      c.line(4, 6, 8, 10);
      c.line(12, 6, 8, 10);
      c.line(2, 10, 2, 14);
      c.line(2, 14, 14, 14);
      c.line(14, 14, 14, 10);
      break;
    }
    case Glyph::Delete: {
      PenScope p(c.dc, colour(RGB(192, 0, 0)), std::max(2, w * 2),
                 static_cast<HBRUSH>(GetStockObject(NULL_BRUSH)));
      c.line(3, 3, 13, 13);
      c.line(13, 3, 3, 13);
      break;
    }
  }
  if (item.itemState & ODS_FOCUS) {
    RECT f = rc;
    InflateRect(&f, -3, -3);
    DrawFocusRect(item.hDC, &f);
  }
}

void drawAttachment(HDC dc, const RECT& cell) {
  const int h = cell.bottom - cell.top;
  if (h <= 2 || cell.right - cell.left <= 1) return;
  const int saved = SaveDC(dc);
  IntersectClipRect(dc, cell.left, cell.top, cell.right, cell.bottom);
  // The clip is 7 units wide and 14 high; it shrinks to fit a narrow column.
  const int w = cell.right - cell.left;
  const int size = std::max(8, std::min(h - 2, (w - 1) * 16 / 7));
  const double unit = size / 16.0;
  const Canvas c{dc, cell.left + static_cast<int>((w - 7 * unit) / 2), cell.top + (h - size) / 2,
                 unit};
  PenScope p(dc, RGB(64, 64, 64), std::max(1, size / 14),
             static_cast<HBRUSH>(GetStockObject(NULL_BRUSH)));
  // A paper clip: an outer loop and an inner tongue.
  RoundRect(dc, c.x(0), c.y(1), c.x(7), c.y(15), c.x(7) - c.x(0), c.x(7) - c.x(0));
  c.line(2, 4, 2, 12);
  c.line(5, 4, 5, 12);
  RestoreDC(dc, saved);
}

}  // namespace tarvi::win32
