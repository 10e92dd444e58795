// The popup and the alerts of the monitor, put together and connected to
// the main form: the grid hooks, the timers they own, the lamp stop of OK.
#pragma once

#include "monitor/cycle/check_cycle.h"
#include "monitor/desktop/alerts.h"
#include "monitor/desktop/mail_form.h"
#include "monitor/mail/popup_model.h"
#include "monitor/win32/main_window.h"
#include "monitor/win32/sound.h"

namespace tarvi::win32 {

struct PopupAndAlerts {
  PopupAndAlerts(MailForm& form, MainWindow& window, KeyboardLamp& lamp)
      : form(form), window(window), popup(form, window), blinker(form.timers, lamp, form.opt) {}

  // Call once the window exists and its timers are attached.
  void install();
  // The end of the check cycle fills the list and raises the alerts here;
  // the popup reads the cycle's mail table and counters.
  void connect(CheckCycle& cycle, CheckTally& tally, MailList& mailList);
  // The sound step of a check that found new mail.
  void playSounds(const std::vector<bool>& newMailFlg);

  MailForm& form;
  MainWindow& window;
  Popup popup;
  LampBlinker blinker;
  WinmmSound sound;
};

}  // namespace tarvi::win32
