// The retrieve and delete runs and the viewer, connected to the popup's
// buttons and list and to the check machinery they share the connection
// and the mail table with.
#pragma once

#include "monitor/mail/viewer_model.h"
#include "monitor/pop3/delete_session.h"
#include "monitor/pop3/retrieve_session.h"
#include "monitor/win32/main_window.h"
#include "monitor/win32/popup_wiring.h"
#include "monitor/win32/socket_wiring.h"
#include "monitor/win32/viewer_window.h"

namespace tarvi::win32 {

struct RunWiring {
  RunWiring(HINSTANCE instance, MailForm& form, MainWindow& window, CheckWiring& check,
            Popup& popup);

  // Call after the check machinery and the popup are installed.
  void install();
  void setBusyPointer(bool busy);

  MailForm& form;
  MainWindow& window;
  CheckWiring& check;
  Popup& popup;
  RetrieveSession retrieve;
  DeleteSession del;
  ViewerWindow viewerWindow;
  MessageViewer viewer;
};

}  // namespace tarvi::win32
