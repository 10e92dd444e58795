// The message viewer as data: the text it shows for a retrieved message,
// and the double-click on the popup list that opens it. The Win32 window
// only shows the text it is handed.
#pragma once

#include <optional>

#include "common/text.h"
#include "monitor/popup/popup_model.h"
#include "monitor/state/monitor_state.h"

namespace tarvi {

// The viewer's text of a message: subject and sender lines, the attachment
// line when there are attachments, an empty line and the body. Nothing for
// a message that has not been retrieved.
std::optional<Text> viewerText(const MailItem& item);

// What the viewer logic asks of its window: replace the whole text and
// show the window (creating it again if the user closed it).
class ViewerView {
 public:
  virtual ~ViewerView() = default;
  virtual void showText(const Text& text) = 0;
};

class MessageViewer {
 public:
  MessageViewer(AccountTable& accounts, ViewerView& view) : accounts_(accounts), view_(view) {}

  // Shows message m of account a if it has been retrieved; false otherwise.
  bool showMessage(int a, int m);
  void showLog(const Text& log) { view_.showText(log); }

  // The double-click on row `row` of the popup's list; it does nothing
  // while the popup's buttons are disabled. The row's mark goes, and the
  // buttons are disabled afterwards.
  void openRow(PopupGrid& grid, int row, PopupView& popupView);

 private:
  AccountTable& accounts_;
  ViewerView& view_;
};

}  // namespace tarvi
