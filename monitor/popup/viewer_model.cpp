#include "monitor/popup/viewer_model.h"

namespace tarvi {

std::optional<Text> viewerText(const MailItem& item) {
  if (item.body.empty()) return std::nullopt;
  Text s = u"Subject: " + item.subject + u"\r\n";
  s += u"   From: " + item.sender + u"\r\n";
  if (item.hasAttachment) s += u" Attach:  " + item.attachmentNames + u"\r\n";
  s += u"\r\n";
  s += item.body;
  return s;
}

bool MessageViewer::showMessage(int a, int m) {
  const AccountState* acc = accounts_.find(a);
  const MailItem* item = acc ? acc->mail.find(m) : nullptr;
  if (!item) return false;
  auto text = viewerText(*item);
  if (!text) return false;
  view_.showText(*text);
  return true;
}

void MessageViewer::openRow(PopupGrid& grid, int row, PopupView& popupView) {
  if (!popupView.actionsEnabled()) return;
  if (grid.rowCount() > 1 && row >= 1 && row < grid.rowCount()) {
    grid.clearMark(row);
    popupView.rowsChanged(grid.rowCount());
    // The message the row shows, wherever a check has moved it since.
    if (MailItem* item = grid.messageOf(row, accounts_)) {
      if (auto text = viewerText(*item)) view_.showText(*text);
      item->marked = false;
    }
  }
  // Other rows may still carry a mark; the buttons wait for the next click.
  popupView.setActionsEnabled(false);
}

}  // namespace tarvi
