// The check machinery of the monitor put together: Windows Sockets, the
// Remote Access Service, the transport, the check session and cycle, and
// the mail table they fill.
#pragma once

#include "monitor/cycle/check_cycle.h"
#include "monitor/desktop/dialup.h"
#include "monitor/desktop/mail_form.h"
#include "monitor/mail/mail_list.h"
#include "monitor/pop3/check_session.h"
#include "monitor/pop3/transport.h"
#include "monitor/win32/ras_win32.h"
#include "monitor/win32/socket_win32.h"

namespace tarvi::win32 {

struct CheckWiring {
  CheckWiring(HINSTANCE instance, MailForm& form);

  // Call once the main window exists and its timers are attached, before
  // the start-up sequence. False when the notification windows failed.
  bool install();

  MailForm& form;
  Win32Sockets sockets;
  Win32Ras ras;
  MailList mailList;
  CheckTally tally;
  Transport transport;
  CheckSession session;
  CheckCycle cycle;
  Dialup dialup;
};

}  // namespace tarvi::win32
