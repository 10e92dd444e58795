#include "monitor/mail/popup_model.h"

#include <algorithm>

namespace tarvi {
namespace {

const Text kHeaders[PopupGrid::kColumns] = {u"", u"", u"", u"差出人", u"件名", u"", u""};

template <typename T>
T entry(const std::vector<T>* table, int index, T fallback) {
  if (!table || index < 0 || static_cast<std::size_t>(index) >= table->size()) return fallback;
  return (*table)[static_cast<std::size_t>(index)];
}

}  // namespace

Text PopupGrid::cell(int row, int col) const {
  if (col < 0 || col >= kColumns || row < 0 || row >= rowCount()) return {};
  if (row == 0) return kHeaders[col];
  const GridRow& r = this->row(row);
  switch (col) {
    case 0: return r.isNew ? kNewMark : u"";
    case 1: return r.marked ? kMarked : u"";
    case 3: return r.from;
    case 4: return r.subject;
    case 5: return decimal(r.account);
    case 6: return decimal(r.msgno);
    default: return {};
  }
}

Text PopupGrid::cellAt(std::int32_t index) const {
  if (index < 0) return {};
  return cell(index / kColumns, index % kColumns);
}

void PopupGrid::setWidth(int col, int twips) {
  if (col < 0 || col >= kColumns - 1) return;  // column 6 stays hidden
  widths_[static_cast<std::size_t>(col)] = std::max(0, twips);
}

void PopupGrid::initGrid(const std::array<std::int16_t, kGridColumns>& stored,
                         bool needsScrollBar) {
  for (int c = 0; c < kGridColumns; ++c) widths_[static_cast<std::size_t>(c)] = stored[static_cast<std::size_t>(c)];
  allowance_ = needsScrollBar;
  if (allowance_) widths_[4] -= kScrollAllowance;
  widths_[6] = 0;
}

std::array<std::int16_t, kGridColumns> PopupGrid::widthsToStore() const {
  std::array<std::int16_t, kGridColumns> w{};
  for (int c = 0; c < kGridColumns; ++c) {
    int v = widths_[static_cast<std::size_t>(c)];
    if (c == 4 && allowance_) v += kScrollAllowance;
    w[static_cast<std::size_t>(c)] = static_cast<std::int16_t>(std::clamp(v, 0, 32767));
  }
  return w;
}

void PopupGrid::style(GridRow& r, const MailList& mail) const {
  const MailItem* item = mail.find(r.account, r.msgno);
  r.bold = item && !item->Body.empty();
  r.picture = item && item->HasAttach;
}

void PopupGrid::fillGrid(MailList& mail, const FillInput& in) {
  rows_.clear();
  if (in.accountno > 0 && shownCount.size() < static_cast<std::size_t>(in.accountno) + 1)
    shownCount.resize(static_cast<std::size_t>(in.accountno) + 1, 0);
  for (int a = 1; a <= in.accountno; ++a) {
    const std::size_t begin = rows_.size();
    std::int16_t last = entry<std::int16_t>(in.lastCount, a, 0);
    std::int16_t& shown = shownCount[static_cast<std::size_t>(a)];
    if (last < shown) shown = 0;
    for (int m = 1; m <= last; ++m) {
      // A count beyond the table (a server that lied, a table not yet
      // enlarged) must not produce rows that point nowhere.
      const MailItem* item = mail.find(a, m);
      if (!item) continue;
      GridRow r;
      r.from = item->From;
      r.subject = item->Subject;
      r.account = static_cast<std::int16_t>(a);
      r.msgno = static_cast<std::int16_t>(m);
      r.fore = entry<std::int32_t>(in.Scolor1, a, 0);
      r.back = entry<std::int32_t>(in.Scolor2, a, kDefaultBackColor);
      style(r, mail);
      r.isNew = shown < m && !in.noNotify;
      rows_.push_back(std::move(r));
    }
    // Inserting each message at the head of the account's block gives the
    // block in descending order; reversing it once does the same in linear
    // time.
    if (in.newestFirst) std::reverse(rows_.begin() + static_cast<std::ptrdiff_t>(begin), rows_.end());
    shown = last;
  }
}

void PopupGrid::refreshMarks(MailList& mail) {
  for (GridRow& r : rows_) {
    r.marked = false;
    if (MailItem* item = mail.find(r.account, r.msgno)) item->Marked = 0;
    style(r, mail);
  }
}

int PopupGrid::toggleMark(int row, MailList& mail) {
  if (row < 1 || row >= rowCount()) return 0;
  GridRow& r = rows_[static_cast<std::size_t>(row - 1)];
  r.marked = !r.marked;
  if (MailItem* item = mail.find(r.account, r.msgno)) item->Marked = r.marked ? -1 : 0;
  return r.account;
}

bool PopupGrid::anyMarked() const {
  return std::any_of(rows_.begin(), rows_.end(), [](const GridRow& r) { return r.marked; });
}

void PopupGrid::clearMark(int row) {
  if (row >= 1 && row < rowCount()) rows_[static_cast<std::size_t>(row - 1)].marked = false;
}

namespace popup_layout {

int mulDiv(int n, int num, int den) {
  if (den == 0) return -1;
  const std::int64_t p = static_cast<std::int64_t>(n) * num;
  const std::int64_t d = den < 0 ? -static_cast<std::int64_t>(den) : den;
  const std::int64_t a = p < 0 ? -p : p;
  std::int64_t q = (a + d / 2) / d;
  if ((p < 0) != (den < 0)) q = -q;
  return static_cast<int>(std::clamp<std::int64_t>(q, INT32_MIN, INT32_MAX));
}

Rect atDpi(const Rect& t, int dpi) {
  if (dpi <= 0) dpi = 96;
  return {mulDiv(t.left, dpi, 1440), mulDiv(t.top, dpi, 1440), mulDiv(t.width, dpi, 1440),
          mulDiv(t.height, dpi, 1440)};
}

bool needsScrollBar(int gridHeightPx, int rowHeightPx, int mailTotal) {
  if (rowHeightPx <= 0) return false;
  const int rows = gridHeightPx / rowHeightPx;
  return mailTotal > rows - 1;
}

std::optional<Resized> formResize(int W, int H, int twipsX, int twipsY, int dpi,
                                  const Rect& gridPx, const Rect& okPx) {
  if (H <= 1500 || W <= 1000 || twipsX <= 0 || twipsY <= 0) return std::nullopt;
  // Fixed pixels would leave the OK button, the only way to close the
  // popup, below the bottom edge once the frame and controls are scaled.
  const auto px = [dpi](int n) { return scaled(n, dpi); };
  Resized r;
  r.grid = {gridPx.left, gridPx.top, std::max(0, W / twipsX - px(8)),
            std::max(0, H / twipsY - px(70))};
  r.ok = {okPx.left, r.grid.top + r.grid.height + px(3), std::max(0, r.grid.width - px(18)),
          okPx.height};
  r.logLeft = W / twipsX - px(30);
  return r;
}

int columnPx(int twips, int dpi) {
  if (dpi <= 0) dpi = 96;
  return static_cast<int>(static_cast<std::int64_t>(twips) * dpi / 1440);
}

int columnTwips(int rememberedTwips, int pixels, int dpi) {
  if (dpi <= 0) dpi = 96;
  if (columnPx(rememberedTwips, dpi) == pixels) return rememberedTwips;
  const std::int64_t t = static_cast<std::int64_t>(pixels) * 1440;
  return static_cast<int>(t >= 0 ? (t + dpi - 1) / dpi : t / dpi);
}

int windowTwips(int rememberedTwips, int pixels, int dpi) {
  if (dpi <= 0) dpi = 96;
  if (mulDiv(rememberedTwips, dpi, 1440) == pixels) return rememberedTwips;
  return mulDiv(pixels, 1440, dpi);
}

}  // namespace popup_layout

void Popup::initialize() { form_.timers.setInterval(TimerId::closetimer, kCloseInterval); }

bool Popup::needsScrollBar() {
  return popup_layout::needsScrollBar(view_.gridHeightPx(), view_.rowHeightPx(),
                                      mailTotal ? mailTotal() : 0);
}

void Popup::initGrid() {
  grid.initGrid(form_.opt.grdWidth, needsScrollBar());
  std::array<int, PopupGrid::kColumns> px{};
  for (int c = 0; c < PopupGrid::kColumns; ++c)
    px[static_cast<std::size_t>(c)] = shownPx(c);
  view_.setColumnWidthsPx(px);
}

int Popup::shownPx(int col) const {
  // A subject column narrower than the scroll-bar allowance is negative
  // here; it can only be shown closed.
  return std::max(0, popup_layout::columnPx(grid.widths()[static_cast<std::size_t>(col)],
                                            view_.dpi()));
}

void Popup::fillGrid() {
  if (!mailList) return;
  std::vector<std::int16_t> counts(static_cast<std::size_t>(std::max<int>(form_.opt.accountno, 0)) + 1, 0);
  for (int a = 1; a <= form_.opt.accountno; ++a)
    counts[static_cast<std::size_t>(a)] = lastCount ? lastCount(a) : 0;
  FillInput in;
  in.accountno = form_.opt.accountno;
  in.lastCount = &counts;
  in.noNotify = noNotify && noNotify();
  in.newestFirst = form_.opt.Option9value != 0;
  in.Scolor1 = &form_.Scolor1;
  in.Scolor2 = &form_.Scolor2;
  view_.setGridRedraw(false);
  grid.fillGrid(*mailList, in);
  view_.rowsChanged(grid.rowCount());
  view_.setGridRedraw(true);
}

void Popup::refreshMarks() {
  if (!mailList) return;
  view_.setGridRedraw(false);
  grid.refreshMarks(*mailList);
  view_.rowsChanged(grid.rowCount());
  view_.setGridRedraw(true);
}

void Popup::clearGrid() {
  grid.clear();
  view_.rowsChanged(grid.rowCount());
}

void Popup::showNewMail() {
  form_.svc.view.show();
  form_.timers.enable(TimerId::closetimer);
}

void Popup::lvwMailBox_Click(int row) {
  if (mailList && grid.rowCount() > 1) {
    const int a = grid.toggleMark(row, *mailList);
    if (a != 0) {
      view_.rowsChanged(grid.rowCount());
      const Text name = form_.svc.store.read(u"Aname" + decimal(a), u"");
      view_.setGridTooltip(Text(kAccountTipPrefix) + name);
    }
  }
  view_.setActionsEnabled(grid.anyMarked());
}

void Popup::OkBt_Click() {
  if (stopLamp) stopLamp();
  saveLayout();
  form_.svc.view.hide();
}

void Popup::closetimer_Timer() {
  if (closeCount < INT16_MAX) ++closeCount;
  if (form_.opt.Closetimerval != 0 && closeCount >= form_.opt.Closetimerval) {
    form_.timers.disable(TimerId::closetimer);
    closeCount = 0;
    form_.svc.view.hide();
  }
}

void Popup::Form_Resize() {
  const auto [w, h] = view_.layoutSizePx();
  auto r = popup_layout::formResize(w * form_.twipsX, h * form_.twipsY, form_.twipsX,
                                    form_.twipsY, view_.dpi(), view_.gridRectPx(),
                                    view_.okRectPx());
  if (r) view_.placeControls(*r);
}

void Popup::saveLayout() {
  const auto px = view_.columnWidthsPx();
  for (int c = 0; c < kGridColumns; ++c) {
    const auto i = static_cast<std::size_t>(c);
    // A column the user left as it was shown keeps its width in twips, even
    // one shown closed because the allowance made it negative: taking its
    // 0 px back would store the allowance itself.
    if (px[i] == shownPx(c)) continue;
    grid.setWidth(c, popup_layout::columnTwips(grid.widths()[i], px[i], view_.dpi()));
  }
  const auto w = grid.widthsToStore();
  for (int c = 0; c < kGridColumns; ++c) {
    form_.opt.grdWidth[static_cast<std::size_t>(c)] = w[static_cast<std::size_t>(c)];
    form_.svc.store.put(u"grdWidth" + decimal(c), decimal(w[static_cast<std::size_t>(c)]));
  }
  const auto [fw, fh] = view_.windowSizePx();
  const int dpi = view_.dpi();
  const int tw = popup_layout::windowTwips(form_.opt.frmWidth, fw, dpi);
  const int th = popup_layout::windowTwips(form_.opt.frmHeight, fh, dpi);
  form_.opt.frmWidth = static_cast<std::int16_t>(std::clamp(tw, 0, 32767));
  form_.opt.frmHeight = static_cast<std::int16_t>(std::clamp(th, 0, 32767));
  form_.svc.store.put(u"frmWidth", decimal(form_.opt.frmWidth));
  form_.svc.store.put(u"frmHeight", decimal(form_.opt.frmHeight));
}

}  // namespace tarvi
