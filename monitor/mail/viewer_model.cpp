#include "monitor/mail/viewer_model.h"

namespace tarvi {

std::optional<Text> viewerText(const MailItem& item) {
  if (item.Body.empty()) return std::nullopt;
  Text s = u"Subject: " + item.Subject + u"\r\n";
  s += u"   From: " + item.From + u"\r\n";
  if (item.HasAttach) s += u" Attach:  " + item.AttachNames + u"\r\n";
  s += u"\r\n";
  s += item.Body;
  return s;
}

bool MessageViewer::showMessage(int a, int m) {
  const MailItem* item = mailList_.find(a, m);
  if (!item) return false;
  auto text = viewerText(*item);
  if (!text) return false;
  view_.showText(*text);
  return true;
}

void MessageViewer::lvwMailBox_DblClick(int row) {
  if (retrEnabled && !retrEnabled()) return;
  int a = 0, m = 0;
  if (grid && grid->rowCount() > 1 && row >= 1 && row < grid->rowCount()) {
    grid->clearMark(row);
    a = grid->row(row).account;
    m = grid->row(row).msgno;
    if (rowsChanged) rowsChanged();
  }
  if (a != 0 && m != 0) {
    showMessage(a, m);
    if (MailItem* item = mailList_.find(a, m)) item->Marked = 0;
  }
  // Other rows may still carry a mark; the buttons wait for the next click.
  if (setActionsEnabled) setActionsEnabled(false);
}

}  // namespace tarvi
