#include "monitor/app/monitor.h"

#include "common/app.h"

#include <algorithm>

#include "common/sign_in.h"

namespace tarvi {
namespace {

// The unload query waits for the lamp-off timer; should that timer never
// tick (a platform failure), the wait still ends after this many idles.
constexpr int kMaxLampWaits = 200;
// How soon a popup held back while the user was busy follows the end of it.
constexpr std::uint32_t kQuietPollMs = 2000;

}  // namespace

Monitor::Monitor(MonitorServices s)
    : svc_(s),
      timers_(s.timers),
      launcher_(s.processes, s.pump),
      blinker_(timers_, s.lamp, state_.options),
      dialup_(s.dialup, s.pump, s.dialogs, s.store, state_.options, &timers_),
      hotkeys_(s.hotkeys, s.dialogs, state_.options.hotkeys),
      popup_({s.store, timers_, s.window, s.popupView}, state_),
      viewer_(state_.accounts, s.viewerView),
      checker_({s.store, timers_, s.pump, s.dialogs, s.window, s.sockets, s.charsets, s.lists,
                s.pushSockets ? *s.pushSockets : s.sockets, s.tokens, s.network},
               state_, *this),
      tray_(s.trayIcon, state_.options) {
  checker_.transport().tls = s.tls;
  // A provider that hands out a new refresh token with a renewal may void
  // the old one: the new one is stored at once, protected as every secret.
  checker_.tokens().keepRefreshToken = [this](int a, const Text& token) {
    if (state_.secrets) saveRefreshToken(svc_.store, a, token, *state_.secrets);
  };
}

bool Monitor::initialize(bool anotherInstanceRunning, int twipsPerPixelX, int twipsPerPixelY) {
  if (anotherInstanceRunning) {
    svc_.dialogs.messageBox(u"既に起動しています", kAppTitle, MsgButtons::Ok, MsgIcon::Information);
    return false;
  }
  twipsX_ = twipsPerPixelX > 0 ? twipsPerPixelX : 15;
  twipsY_ = twipsPerPixelY > 0 ? twipsPerPixelY : 15;
  blinker_.initialize();
  popup_.initialize();
  checker_.install();
  timers_.setInterval(TimerId::quietWait, kQuietPollMs);
  return true;
}

bool Monitor::loadSettings() {
  if (!state_.loadOptions(svc_.store)) return false;
  for (int i = 1; i <= 2; ++i)
    svc_.window.setMailerEnabled(i, !state_.options.mailerPaths[static_cast<std::size_t>(i - 1)].empty());
  checker_.applyInterval();
  checker_.configurePush();
  svc_.window.setLogVisible(state_.options.keepSessionLog);
  svc_.window.applyLayout(state_.options.columnWidths, state_.options.popupWidth,
                          state_.options.popupHeight);
  // Widths reset by the settings program show at once; left to the next
  // check, the popup's old widths would be stored over them when it closes.
  popup_.initGrid(checker_.mailTotal());
  return true;
}

void Monitor::registerHotkeys() {
  // The settings program chosen to set the keys again registers them once
  // more; a key still taken then is told, and the monitor goes on without
  // it rather than asking (and nesting another settings program) forever.
  switch (hotkeys_.registerAll(!choosingKeysAgain_)) {
    case HotkeySetup::Done:
      break;
    case HotkeySetup::Reconfigure:
      choosingKeysAgain_ = true;
      runSettingsProgram();
      choosingKeysAgain_ = false;
      break;
    case HotkeySetup::Quit:
      // The user declined to choose other keys: the unload query runs, and
      // the monitor ends whatever it was answered.
      queryUnload();
      svc_.processes.exitNow();
      break;
  }
}

bool Monitor::load() {
  svc_.window.hide();
  svc_.window.removeCloseMenu();
  svc_.hotkeys.hookWindow();
  for (;;) {
    loadSettings();
    clearMailTable();
    registerHotkeys();
    if (state_.options.accountCount != 0) break;
    svc_.dialogs.messageBox(u"最初に設定をしてください", kAppTitle, MsgButtons::Ok,
                            MsgIcon::Information);
    if (svc_.pump.quitting()) return false;
    const bool started = launcher_.startAndWait(launcher_.settingsProgram());
    // "終了" through its hotkey while the settings program ran: the monitor
    // has been unloaded, and must neither ask again nor register keys on a
    // window that is gone.
    if (svc_.pump.quitting()) return false;
    if (!started) {
      // Without the settings program there is no way to store an account:
      // asking again would loop forever.
      svc_.dialogs.messageBox(u"設定プログラム(tarvicfg.exe)を起動できませんでした" u"\r\n"
                              u"終了します",
                              kAppTitle, MsgButtons::Ok, MsgIcon::Information);
      hotkeys_.releaseAll();
      return false;
    }
  }
  svc_.window.setCaption(kAppTitle);
  popup_.initGrid(checker_.mailTotal());
  tray_.applyOption();
  svc_.lamp.putOut();
  if (state_.options.checkAtStartup) checker_.checkAll();
  return true;
}

bool Monitor::queryUnload() {
  blinker_.stop();
  for (int i = 0; timers_.enabled(TimerId::lampOff) && i < kMaxLampWaits; ++i) {
    svc_.pump.doEvents();
    if (timers_.enabled(TimerId::lampOff)) svc_.pump.idle();
  }
  if (!state_.options.quitWithoutAsking) {
    const MsgAnswer a = svc_.dialogs.messageBox(u"終了しますか？", kAppTitle, MsgButtons::YesNo,
                                                MsgIcon::Information);
    if (a != MsgAnswer::Yes) {
      svc_.window.hide();
      return false;
    }
  }
  hotkeys_.releaseAll();
  svc_.hotkeys.unhookWindow();
  checker_.stopPush();
  popup_.saveLayout();
  tray_.remove();
  return true;
}

bool Monitor::closeRequested(bool ours) {
  if (!ours || unloading_) return false;
  unloading_ = true;
  if (!queryUnload()) {
    unloading_ = false;
    return false;
  }
  return true;
}

bool Monitor::endSessionQueried() {
  if (unloading_) return true;
  unloading_ = true;
  if (!queryUnload()) {
    unloading_ = false;
    return false;
  }
  endAgreed_ = true;
  return true;
}

void Monitor::onTimer(TimerId id) {
  switch (id) {
    case TimerId::lampOff: blinker_.onLampOffTick(); break;
    case TimerId::lampBlink: blinker_.onBlinkTick(); break;
    case TimerId::popupAutoClose: popup_.onAutoCloseTick(); break;
    case TimerId::quietWait: showNewMailPopup(mustNotDisturb()); break;
    default: checker_.onTimer(id); break;
  }
}

bool Monitor::onHotkey(std::uintptr_t id) {
  const auto command = hotkeys_.commandFor(id);
  if (!command) return false;
  run(*command);
  return true;
}

void Monitor::run(HotkeyCommand command) {
  switch (command) {
    case HotkeyCommand::Settings: openSettings(); break;
    case HotkeyCommand::Check: checkAll(); break;
    case HotkeyCommand::Popup: showPopup(); break;
    case HotkeyCommand::Mailer1: startMailer(1); break;
    case HotkeyCommand::Mailer2: startMailer(2); break;
    case HotkeyCommand::Quit: quit(); break;
    case HotkeyCommand::Connect: dialup_.connectHotkey(); break;
    case HotkeyCommand::Disconnect: dialup_.hangUp(); break;
  }
}

void Monitor::newMailSeen() {
  stopLamp();
  tray_.newMailSeen();
  timers_.disable(TimerId::quietWait);
}

bool Monitor::mustNotDisturb() const {
  return state_.options.quiet && svc_.attention && svc_.attention->busy();
}

void Monitor::showNewMailPopup(bool quiet) {
  // Shown without the focus it would still cover a full-screen program or
  // a presentation (the window is topmost): it waits instead.
  timers_.setEnabled(TimerId::quietWait, quiet);
  if (!quiet) popup_.showNewMail();
}

void Monitor::showPopup() {
  newMailSeen();
  svc_.window.show();
}

void Monitor::quit() {
  stopLamp();
  svc_.window.unload();
}

void Monitor::openSettings() {
  newMailSeen();
  runSettingsProgram();
}

void Monitor::runSettingsProgram() {
  // The wait pumps messages: the hotkey pressed again meanwhile would nest
  // a wait (and a reload) for a program that only shows the open one.
  if (settingsRunning_) return;
  const std::int16_t before = state_.options.accountCount;
  // A missing settings program is no error: the settings are reloaded and
  // the hotkeys renewed all the same.
  settingsRunning_ = true;
  launcher_.startAndWait(launcher_.settingsProgram());
  settingsRunning_ = false;
  if (svc_.pump.quitting()) return;  // unloaded while the settings program ran
  loadSettings();
  tray_.applyOption();
  if (forgetChangedAccounts(before)) {
    // The rows name accounts by number: after a change of the account
    // list a row could point at another account, and a mark at mail of an
    // account the user never chose. Nothing is listed until the next check.
    checker_.resetMailTotal();
    popup_.clearGrid();
    svc_.popupView.setActionsEnabled(false);
    popup_.initGrid(checker_.mailTotal());
    tray_.totalChanged(checker_.mailTotal());
  }
  hotkeys_.releaseAll();
  registerHotkeys();
}

bool Monitor::forgetChangedAccounts(int countBefore) {
  bool changed = state_.options.accountCount != countBefore;
  for (int a = 1; a <= state_.accounts.count(); ++a) {
    AccountState& record = *state_.accounts.find(a);
    AccountSettings now;
    loadAccount(svc_.store, a, now);
    if (record.identity.empty() || record.identity == accountIdentity(now)) continue;
    record.resetListing();
    changed = true;
  }
  if (changed) state_.accounts.clearMarks();
  return changed;
}

void Monitor::startMailer(int n) {
  timers_.enable(TimerId::lampOff);
  tray_.newMailSeen();
  timers_.disable(TimerId::quietWait);
  if (n < 1 || n > 2) return;
  launcher_.startMailer(state_.options.mailerPaths[static_cast<std::size_t>(n - 1)]);
}

void Monitor::startMailerFromPopup(int n) {
  newMailSeen();
  svc_.window.hide();
  startMailer(n);
}

void Monitor::closePopup() {
  newMailSeen();
  popup_.close();
}

void Monitor::checkFinished() {
  const GeneralSettings& o = state_.options;
  svc_.popupView.setActionsEnabled(false);
  svc_.popupView.setListEnabled(true);
  popup_.refreshMarks();
  // The count first: filling a long list takes a moment.
  // A sign-in the provider refused is only learnt by a check: the accounts
  // signed in again since are checked and off the list.
  const auto lost = checker_.tokens().lost();
  signInLost_.erase(std::remove_if(signInLost_.begin(), signInLost_.end(),
                                   [&](int a) { return std::find(lost.begin(), lost.end(), a) == lost.end(); }),
                    signInLost_.end());
  if (tray_.shown()) tray_.signInNeeded(signInLostNames(), {});
  svc_.window.setCaption(checker_.totalCaption() + signInCaption());
  if (checker_.mailTotal() != 0)
    popup_.fillGrid();
  else
    popup_.clearGrid();
  if (state_.accounts.anyNewMail()) {
    const bool quiet = mustNotDisturb();
    if (o.blinkLamp) blinker_.start();
    if (o.popupOnNewMail) showNewMailPopup(quiet);
    if (!quiet) playNewMailSounds(svc_.sound, o, state_.accounts);
    popup_.initGrid(checker_.mailTotal());
    if (o.hangUpAfterCheck && !o.stayOnlineWithNewMail) dialup_.hangUp();
  } else if (o.hangUpAfterCheck) {
    dialup_.hangUp();
  }
  tray_.checkFinished(checker_.mailTotal(), timers_.localTime(), newMailAccounts());
  svc_.window.setBusy(false);
}

std::vector<Text> Monitor::newMailAccounts() const {
  std::vector<Text> names;
  for (int a = 1; a <= state_.accounts.count(); ++a)
    if (state_.accounts.find(a)->newMail) names.push_back(accountName(svc_.store, a));
  return names;
}

std::vector<Text> Monitor::signInLostNames() const {
  std::vector<Text> names;
  for (int a : signInLost_) {
    const Text name = accountName(svc_.store, a);
    names.push_back(name.empty() ? decimal(a) : name);
  }
  return names;
}

Text Monitor::signInCaption() const {
  if (signInLost_.empty()) return {};
  Text t = Text(u" -") + kSignInNeededLead;
  const auto names = signInLostNames();
  for (std::size_t i = 0; i < names.size(); ++i) t += (i ? u", " : u"") + names[i];
  return t + u"-";
}

void Monitor::signInLost(int a) {
  if (std::find(signInLost_.begin(), signInLost_.end(), a) == signInLost_.end()) signInLost_.push_back(a);
  const Text name = accountName(svc_.store, a);
  // Said once, whatever the error-box option: without a new sign-in the
  // account is never checked again.
  if (!tray_.signInNeeded(signInLostNames(), name.empty() ? decimal(a) : name))
    svc_.dialogs.messageBox((name.empty() ? decimal(a) : name) + u": " + kSignInAgain, kAppTitle, MsgButtons::Ok,
                            MsgIcon::Exclamation);
}

void Monitor::signInAgain() {
  if (signInLost_.empty()) return;
  const int a = signInLost_.front();
  newMailSeen();
  launcher_.startAndWait(launcher_.settingsProgram(), u"/signin " + decimal(a));
  if (svc_.pump.quitting()) return;
  loadSettings();
  checker_.checkAccount(a);
}

void Monitor::runAccountStarting() {
  svc_.popupView.setActionsEnabled(false);
  svc_.popupView.setListEnabled(false);
}

void Monitor::retrieveFinished() {
  tray_.totalChanged(checker_.mailTotal());
  popup_.refreshMarks();
  // The marks are gone, so there is nothing left for the buttons to act on.
  svc_.popupView.setActionsEnabled(false);
  svc_.popupView.setListEnabled(true);
}

}  // namespace tarvi
