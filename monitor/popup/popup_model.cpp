#include "monitor/popup/popup_model.h"

#include <algorithm>

namespace tarvi {
namespace {

const Text kHeaders[PopupGrid::kColumns] = {u"", u"", u"", u"差出人", u"件名", u"", u""};

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

namespace {

bool shows(const GridRow& r, const MailItem& item) {
  return item.identity == r.identity && item.uid == r.uid;
}

}  // namespace

MailItem* PopupGrid::messageOf(GridRow& r, AccountTable& accounts) {
  AccountState* a = accounts.find(r.account);
  if (!a) return nullptr;
  MailItem* item = a->mail.find(r.msgno);
  if (item && shows(r, *item)) return item;
  for (int m = 1; m <= a->mail.size(); ++m) {
    item = a->mail.find(m);
    if (shows(r, *item)) {
      r.msgno = static_cast<std::int16_t>(m);
      return item;
    }
  }
  return nullptr;
}

MailItem* PopupGrid::messageOf(int row, AccountTable& accounts) {
  if (row < 1 || row >= rowCount()) return nullptr;
  return messageOf(rows_[static_cast<std::size_t>(row - 1)], accounts);
}

void PopupGrid::style(GridRow& r, AccountTable& accounts) {
  const MailItem* item = messageOf(r, accounts);
  r.bold = item && !item->body.empty();
  r.picture = item && item->hasAttachment;
}

void PopupGrid::fillGrid(AccountTable& accounts, const FillInput& in) {
  rows_.clear();
  for (int a = 1; a <= in.accountCount; ++a) {
    AccountState* acc = accounts.find(a);
    if (!acc) break;
    const std::size_t begin = rows_.size();
    const auto last = static_cast<std::int16_t>(std::clamp<std::int64_t>(acc->lastCount, 0, INT16_MAX));
    std::int16_t& shown = acc->shownCount;
    if (last < shown) shown = 0;
    for (int m = 1; m <= last; ++m) {
      // A count beyond the list (a server that lied, a list not yet
      // enlarged) must not produce rows that point nowhere.
      const MailItem* item = acc->mail.find(m);
      if (!item) continue;
      GridRow r;
      r.from = item->sender;
      r.subject = item->subject;
      r.account = static_cast<std::int16_t>(a);
      r.msgno = static_cast<std::int16_t>(m);
      r.identity = item->identity;
      r.uid = item->uid;
      r.fore = acc->textColor;
      r.back = acc->backColor;
      style(r, accounts);
      // The check after a delete run marks nothing new in a mailbox it changed.
      // A list made by unique ids knows exactly which messages were never
      // seen; each is marked once, as a count-based mark is.
      r.isNew = acc->exactNew ? item->unseen : shown < m && !acc->quietNextCheck;
      if (acc->exactNew) acc->mail.find(m)->unseen = false;
      rows_.push_back(std::move(r));
    }
    // Inserting each message at the head of the account's block gives the
    // block in descending order; reversing it once does the same in linear
    // time.
    if (in.newestFirst) std::reverse(rows_.begin() + static_cast<std::ptrdiff_t>(begin), rows_.end());
    shown = last;
  }
}

void PopupGrid::refreshMarks(AccountTable& accounts) {
  // Every mark goes, also one a check moved away from its row's number.
  accounts.clearMarks();
  for (GridRow& r : rows_) {
    r.marked = false;
    style(r, accounts);
  }
}

int PopupGrid::toggleMark(int row, AccountTable& accounts) {
  if (row < 1 || row >= rowCount()) return 0;
  GridRow& r = rows_[static_cast<std::size_t>(row - 1)];
  MailItem* item = messageOf(r, accounts);
  if (!item) return 0;  // the message went while the row was shown
  r.marked = !r.marked;
  item->marked = r.marked;
  return r.account;
}

void PopupGrid::takeMarks(AccountTable& accounts) {
  // A listing clears the mark of whatever it lists, so the only marks a
  // check can have moved are gone; the rows put them back on their messages.
  for (GridRow& r : rows_) {
    if (!r.marked) continue;
    MailItem* item = messageOf(r, accounts);
    if (item)
      item->marked = true;
    else
      r.marked = false;
  }
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

void Popup::initialize() { svc_.timers.setInterval(TimerId::popupAutoClose, kCloseInterval); }

void Popup::initGrid(std::int64_t mailTotal) {
  const bool scrollBar = popup_layout::needsScrollBar(
      svc_.view.gridHeightPx(), svc_.view.rowHeightPx(),
      static_cast<int>(std::clamp<std::int64_t>(mailTotal, 0, INT32_MAX)));
  grid.initGrid(state_.options.columnWidths, scrollBar);
  std::array<int, PopupGrid::kColumns> px{};
  for (int c = 0; c < PopupGrid::kColumns; ++c) px[static_cast<std::size_t>(c)] = shownPx(c);
  svc_.view.setColumnWidthsPx(px);
}

int Popup::shownPx(int col) {
  // A subject column narrower than the scroll-bar allowance is negative
  // here; it can only be shown closed.
  return std::max(0, popup_layout::columnPx(grid.widths()[static_cast<std::size_t>(col)],
                                            svc_.view.dpi()));
}

void Popup::fillGrid() {
  FillInput in;
  in.accountCount = state_.options.accountCount;
  in.newestFirst = state_.options.newestFirst;
  svc_.view.setGridRedraw(false);
  grid.fillGrid(state_.accounts, in);
  svc_.view.rowsChanged(grid.rowCount());
  svc_.view.setGridRedraw(true);
}

void Popup::refreshMarks() {
  svc_.view.setGridRedraw(false);
  grid.refreshMarks(state_.accounts);
  svc_.view.rowsChanged(grid.rowCount());
  svc_.view.setGridRedraw(true);
}

void Popup::clearGrid() {
  grid.clear();
  svc_.view.rowsChanged(grid.rowCount());
}

void Popup::showNewMail() {
  svc_.window.show();
  svc_.timers.enable(TimerId::popupAutoClose);
}

void Popup::clickRow(int row) {
  if (grid.rowCount() > 1) {
    const int a = grid.toggleMark(row, state_.accounts);
    if (a != 0) {
      svc_.view.rowsChanged(grid.rowCount());
      svc_.view.setGridTooltip(Text(kAccountTipPrefix) + accountName(svc_.store, a));
    }
  }
  svc_.view.setActionsEnabled(grid.anyMarked());
}

void Popup::close() {
  saveLayout();
  svc_.window.hide();
}

void Popup::onAutoCloseTick() {
  if (closeCount_ < INT16_MAX) ++closeCount_;
  if (state_.options.popupCloseSeconds != 0 && closeCount_ >= state_.options.popupCloseSeconds) {
    svc_.timers.disable(TimerId::popupAutoClose);
    closeCount_ = 0;
    svc_.window.hide();
  }
}

void Popup::layoutControls(int twipsX, int twipsY) {
  const auto [w, h] = svc_.view.layoutSizePx();
  auto r = popup_layout::formResize(w * twipsX, h * twipsY, twipsX, twipsY, svc_.view.dpi(),
                                    svc_.view.gridRectPx(), svc_.view.okRectPx());
  if (r) svc_.view.placeControls(*r);
}

void Popup::saveLayout() {
  GeneralSettings& o = state_.options;
  const auto px = svc_.view.columnWidthsPx();
  for (int c = 0; c < kGridColumns; ++c) {
    const auto i = static_cast<std::size_t>(c);
    // A column the user left as it was shown keeps its width in twips, even
    // one shown closed because the allowance made it negative: taking its
    // 0 px back would store the allowance itself.
    if (px[i] == shownPx(c)) continue;
    grid.setWidth(c, popup_layout::columnTwips(grid.widths()[i], px[i], svc_.view.dpi()));
  }
  o.columnWidths = grid.widthsToStore();
  const auto [fw, fh] = svc_.view.windowSizePx();
  const int dpi = svc_.view.dpi();
  const int tw = popup_layout::windowTwips(o.popupWidth, fw, dpi);
  const int th = popup_layout::windowTwips(o.popupHeight, fh, dpi);
  o.popupWidth = static_cast<std::int16_t>(std::clamp(tw, 0, 32767));
  o.popupHeight = static_cast<std::int16_t>(std::clamp(th, 0, 32767));
  writeKeys(svc_.store, generalKeys(o, KeyGroup::ColumnWidths));
  writeKeys(svc_.store, generalKeys(o, KeyGroup::PopupSize));
}

}  // namespace tarvi
