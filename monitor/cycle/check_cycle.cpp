#include "monitor/cycle/check_cycle.h"

namespace tarvi {
namespace {

constexpr std::uint32_t kMinute = 60000;
constexpr std::uint32_t kSecond = 1000;

}  // namespace

CheckCycle::CheckCycle(MailForm& form, Transport& transport, CheckTally& tally)
    : form_(form), t_(transport), tally_(tally) {}

void CheckCycle::install() {
  form_.timers.setInterval(TimerId::logontimer, kSecond);
  form_.timers.setInterval(TimerId::timeuptimer, kMinute);
  form_.timers.disable(TimerId::logontimer);
  form_.timers.disable(TimerId::timeuptimer);
  form_.timers.enable(TimerId::checktimer);
  tally_.resize(form_.opt.accountno);
  form_.onAccountCountRead([this](int accounts) { tally_.resize(accounts); });
  form_.checkmail = [this] { checkmail(); };
  form_.clearNoNotify = [this] { tally_.noNotify = 0; };
  form_.resetMailTotal = [this] { tally_.mailTotal = 0; };
  for (TimerId id : {TimerId::checktimer, TimerId::logontimer, TimerId::timeuptimer})
    form_.timerHandlers[static_cast<int>(id)] = [this, id] { onTimer(id); };
}

bool CheckCycle::onTimer(TimerId id) {
  switch (id) {
    case TimerId::checktimer: checktimer_Timer(); return true;
    case TimerId::logontimer: logontimer_Timer(); return true;
    case TimerId::timeuptimer: timeuptimer_Timer(); return true;
    default: return false;
  }
}

void CheckCycle::checktimer_Timer() {
  ++checkMinutes;
  if (checkMinutes < form_.opt.Checktimerval) return;
  form_.timers.disable(TimerId::checktimer);
  timerFlg = 1;
  tally_.noNotify = 0;
  checkmail();
  checkMinutes = 0;
  form_.timers.enable(TimerId::checktimer);
}

void CheckCycle::checkmail() {
  resetCheck();
  newMailFlg_Clear();
  nextAccount();
}

void CheckCycle::resetCheck() {
  form_.turnoff();
  // Whatever the old connection still answers, even within the pumping of
  // the QUIT below, it no longer moves the cycle; nor does a move to the
  // next account already due, which would cut short the session the new
  // cycle is about to start.
  t_.forgetSession();
  form_.timers.disable(TimerId::logontimer);
  // With no connection the QUIT could only fail, and every cycle would
  // start with an error box about a socket that never existed.
  if (t_.connected()) {
    t_.subDisConn();
  } else {
    t_.lastCmd.clear();
    t_.sockState = 6;
  }
  tally_.mailTotal = 0;
  tally_.accountIdx = 0;
  t_.logText.clear();
}

void CheckCycle::newMailFlg_Clear() {
  tally_.resize(form_.opt.accountno);
  for (int i = 1; i <= form_.opt.accountno; ++i) tally_.newMailFlg[i] = false;
}

bool CheckCycle::newMailFlg_Check() const {
  for (int i = 1; i <= form_.opt.accountno && i < static_cast<int>(tally_.newMailFlg.size()); ++i)
    if (tally_.newMailFlg[i]) return true;
  return false;
}

Text CheckCycle::totalCaption() const {
  return tally_.mailTotal != 0 ? decimal(tally_.mailTotal) + kMailArrived : Text(kAppTitle);
}

void CheckCycle::nextAccount() {
  for (;;) {
    form_.timers.disable(TimerId::timeuptimer);
    // accountno may have shrunk under a running cycle (the settings
    // program); the cycle then ends rather than running past the accounts.
    if (tally_.accountIdx >= form_.opt.accountno) {
      finish();
      return;
    }
    ++tally_.accountIdx;
    form_.loadadata(tally_.accountIdx);
    form_.svc.view.setCaption(Text(kAppTitle) + u" -チェック中:" + form_.cur.Aname + u"-");
    if (form_.cur.Check == 0) continue;
    timeupCount = 1;
    form_.timers.enable(TimerId::timeuptimer);
    t_.logon(SessionKind::Check);
    return;
  }
}

void CheckCycle::finish() {
  if (hooks.setRetrDelEnabled) hooks.setRetrDelEnabled(false);
  if (hooks.setGridEnabled) hooks.setGridEnabled(true);
  if (hooks.refreshMarks) hooks.refreshMarks();
  if (tally_.mailTotal != 0) {
    if (hooks.fillGrid) hooks.fillGrid();
  } else {
    if (hooks.clearGrid) hooks.clearGrid();
  }
  form_.svc.view.setCaption(totalCaption());
  const GeneralSettings& o = form_.opt;
  if (newMailFlg_Check()) {
    if (o.Option4value != 0 && hooks.Lightbrink) hooks.Lightbrink();
    if (o.Option1value != 0) {
      if (hooks.showPopup) {
        hooks.showPopup();
      } else {
        form_.svc.view.show();
        form_.timers.enable(TimerId::closetimer);
      }
    }
    if (o.Option2value != 0 && hooks.playSounds) hooks.playSounds();
    if (form_.initGrid) form_.initGrid();
    if (o.Option11value == 1 && o.sOption11value == 0 && hooks.Hangfun) hooks.Hangfun();
  } else if (o.Option11value == 1 && hooks.Hangfun) {
    hooks.Hangfun();
  }
  form_.timers.enable(TimerId::checktimer);
  if (hooks.defaultPointer) hooks.defaultPointer();
}

void CheckCycle::logontimer_Timer() {
  form_.timers.disable(TimerId::logontimer);
  nextAccount();
}

void CheckCycle::timeuptimer_Timer() {
  if (!t_.timeupElapsed()) return;
  if (form_.opt.Timeupval == 0 || timeupCount < form_.opt.Timeupval) {
    ++timeupCount;
    return;
  }
  form_.timers.disable(TimerId::timeuptimer);
  if (t_.sockState != 6) {
    t_.lastCmd.clear();
    t_.sockState = 6;
    t_.subSend(u"QUIT\r\n");
    form_.svc.pump.doEvents();
  }
  if (t_.sessionKind != SessionKind::Check) form_.svc.view.setCaption(totalCaption());
  timeupCount = 1;
  t_.handOn();
  if (hooks.defaultPointer) hooks.defaultPointer();
}

}  // namespace tarvi
