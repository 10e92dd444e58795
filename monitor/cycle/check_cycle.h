// The check cycle: every enabled account in turn, each under a time limit,
// then the report (caption, popup, alerts, hang-up). Started by the check
// timer, at start-up, by the hotkey and after a delete run.
#pragma once

#include <functional>

#include "monitor/desktop/mail_form.h"
#include "monitor/pop3/check_session.h"
#include "monitor/pop3/transport.h"

namespace tarvi {

// What the end of a cycle asks of the popup, the alerts and the dial-up
// line. Each is optional until the part that provides it is wired in.
struct CycleHooks {
  std::function<void(bool enabled)> setRetrDelEnabled;  // RetrBt, DelBt
  std::function<void(bool enabled)> setGridEnabled;     // lvwMailBox
  std::function<void()> refreshMarks;
  std::function<void()> fillGrid;
  std::function<void()> clearGrid;  // header row only
  std::function<void()> Lightbrink;
  std::function<void()> showPopup;  // default: show the window, start closetimer
  std::function<void()> playSounds;
  std::function<void()> Hangfun;
  std::function<void()> defaultPointer;
};

inline constexpr const char16_t* kMailArrived = u"通のメールが届いています!";

class CheckCycle {
 public:
  CheckCycle(MailForm& form, Transport& transport, CheckTally& tally);

  // Timer intervals, the check timer running, the per-account tables kept
  // in step with accountno, and the form's hooks pointing here.
  void install();

  void checkmail();
  void resetCheck();
  void nextAccount();
  void newMailFlg_Clear();
  bool newMailFlg_Check() const;

  // The timers of the cycle; false for any other timer.
  bool onTimer(TimerId id);
  void checktimer_Timer();
  void logontimer_Timer();
  void timeuptimer_Timer();

  int checkMinutes = 0;
  int timeupCount = 0;
  int timerFlg = 0;
  CycleHooks hooks;

 private:
  void finish();
  Text totalCaption() const;

  MailForm& form_;
  Transport& t_;
  CheckTally& tally_;
};

}  // namespace tarvi
