// The message viewer as data: the text it shows for a retrieved message,
// and the double-click on the popup list that opens it. The Win32 window
// only shows the text it is handed.
#pragma once

#include <functional>
#include <optional>

#include "common/text.h"
#include "monitor/mail/mail_list.h"
#include "monitor/mail/popup_model.h"

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
  MessageViewer(MailList& mailList, ViewerView& view) : mailList_(mailList), view_(view) {}

  // Shows record (a, m) if it has been retrieved; false otherwise.
  bool showMessage(int a, int m);
  // The log button.
  void LogBt_Click(const Text& logText) { view_.showText(logText); }

  // The double-click on row `row` of the popup's list.
  void lvwMailBox_DblClick(int row);

  // The popup this viewer serves.
  PopupGrid* grid = nullptr;
  std::function<bool()> retrEnabled;                  // RetrBt enabled now
  std::function<void(bool enabled)> setActionsEnabled;  // RetrBt and DelBt
  std::function<void()> rowsChanged;                  // redraw the list

 private:
  MailList& mailList_;
  ViewerView& view_;
};

}  // namespace tarvi
