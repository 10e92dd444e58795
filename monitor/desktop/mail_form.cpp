#include "monitor/desktop/mail_form.h"

#include "common/scramble.h"

namespace tarvi {
namespace {

constexpr std::uint32_t kTimer1Interval = 300;
// The unload query waits for the lamp-off timer; should that timer never
// tick (a platform failure), the wait still ends after this many idles.
constexpr int kMaxLampWaits = 200;

}  // namespace

MailForm::MailForm(MonitorServices services) : timers(services.timers), svc(services) {
  resizeAccountTables(0);
}

bool MailForm::initialize(bool anotherInstanceRunning, int twipsPerPixelX, int twipsPerPixelY) {
  if (anotherInstanceRunning) {
    svc.dialogs.messageBox(u"既に起動しています", kAppTitle, MsgButtons::Ok, MsgIcon::Information);
    return false;
  }
  twipsX = twipsPerPixelX > 0 ? twipsPerPixelX : 15;
  twipsY = twipsPerPixelY > 0 ? twipsPerPixelY : 15;
  timers.setInterval(TimerId::Timer1, kTimer1Interval);
  return true;
}

bool MailForm::load() {
  svc.view.hide();
  svc.view.removeCloseMenu();
  if (hookWindow) hookWindow();
  for (;;) {
    loadoption();
    if (resetMailTable) resetMailTable(opt.accountno);
    if (setupHotkeys) setupHotkeys(1);
    if (opt.accountno != 0) break;
    svc.dialogs.messageBox(u"最初に設定をしてください", kAppTitle, MsgButtons::Ok,
                           MsgIcon::Information);
    if (svc.pump.quitting()) return false;
    const bool started = startAndWait(svc.processes.exeFolder() + u"\\tarvicfg.exe");
    // "終了" through its hotkey while the settings program ran: the monitor
    // has been unloaded, and must neither ask again nor register keys on a
    // window that is gone.
    if (svc.pump.quitting()) return false;
    if (!started) {
      // Without the settings program there is no way to store an account:
      // asking again would loop forever.
      svc.dialogs.messageBox(u"設定プログラム(tarvicfg.exe)を起動できませんでした" u"\r\n"
                             u"終了します",
                             kAppTitle, MsgButtons::Ok, MsgIcon::Information);
      if (setupHotkeys) setupHotkeys(0);
      return false;
    }
  }
  svc.view.setCaption(kAppTitle);
  if (initGrid) initGrid();
  svc.lamp.scrollLamp(0);
  if (opt.Option5value != 0) {
    if (clearNoNotify) clearNoNotify();
    if (checkmail) checkmail();
  }
  return true;
}

bool MailForm::queryUnload() {
  timers.disable(TimerId::lighttimer);
  svc.lamp.scrollLamp(0);
  timers.enable(TimerId::Timer1);
  for (int i = 0; timers.enabled(TimerId::Timer1) && i < kMaxLampWaits; ++i) {
    svc.pump.doEvents();
    if (timers.enabled(TimerId::Timer1)) svc.pump.idle();
  }
  if (opt.Option7value == 0) {
    const MsgAnswer a = svc.dialogs.messageBox(u"終了しますか？", kAppTitle, MsgButtons::YesNo,
                                               MsgIcon::Information);
    if (a != MsgAnswer::Yes) {
      svc.view.hide();
      return false;
    }
  }
  if (setupHotkeys) setupHotkeys(0);
  if (unhookWindow) unhookWindow();
  if (saveLayout) saveLayout();
  return true;
}

void MailForm::onTimer(TimerId id) {
  switch (id) {
    case TimerId::Timer1:
      // The one-shot lamp-off timer: the lamp goes off a second time, in
      // case a blink tick switched it on after the first time.
      timers.disable(TimerId::Timer1);
      svc.lamp.scrollLamp(0);
      break;
    default:
      if (auto& h = timerHandlers[static_cast<int>(id)]) h();
      break;
  }
}

void MailForm::turnoff() {
  timers.disable(TimerId::lighttimer);
  svc.lamp.scrollLamp(0);
  timers.enable(TimerId::Timer1);
}

void MailForm::mnu_pop() {
  turnoff();
  svc.view.show();
}

void MailForm::mnu_end() {
  timers.disable(TimerId::lighttimer);
  svc.lamp.scrollLamp(0);
  timers.enable(TimerId::Timer1);
  Endfun();
}

void MailForm::Endfun() { svc.view.unload(); }

void MailForm::mnu_opt() {
  turnoff();
  OpenOption();
}

void MailForm::OpenOption() {
  const std::int16_t before = opt.accountno;
  // A missing settings program is no error: the settings are reloaded and
  // the hotkeys renewed all the same.
  startAndWait(svc.processes.exeFolder() + u"\\tarvicfg.exe");
  if (svc.pump.quitting()) return;  // unloaded while the settings program ran
  loadoption();
  if (opt.accountno != before) {
    if (resetMailTotal) resetMailTotal();
    if (resetMailTable) resetMailTable(opt.accountno);
    if (initGrid) initGrid();
  }
  if (setupHotkeys) {
    setupHotkeys(0);
    setupHotkeys(1);
  }
}

void MailForm::ExecMailapp(int n) {
  timers.enable(TimerId::Timer1);
  if (n < 1 || n > 2) return;
  const Text& path = opt.Mailerdir[static_cast<std::size_t>(n)];
  if (path.empty()) return;
  if (path[0] != u'"') {
    if (svc.processes.isOrdinaryFile(path)) svc.processes.start(path);
    return;
  }
  const std::size_t close = path.find(u'"', 1);
  if (close == Text::npos) return;
  // The whole text is started, so that what follows the quotes reaches the
  // mailer as its arguments.
  if (svc.processes.isOrdinaryFile(path.substr(1, close - 1))) svc.processes.start(path);
}

void MailForm::MailBt_Click(int index) {
  svc.lamp.scrollLamp(0);
  timers.disable(TimerId::lighttimer);
  timers.enable(TimerId::Timer1);
  svc.view.hide();
  ExecMailapp(index);
}

void MailForm::resizeAccountTables(int accounts) {
  const std::size_t n = static_cast<std::size_t>(accounts) + 1;
  Scolor1.resize(n, 0);
  Scolor2.resize(n, kDefaultBackColor);
  Wavmode.resize(n, 0);
  Wavdir2_.resize(n);
  for (auto& r : accountTableResizers_) r(accounts);
}

bool MailForm::loadoption() {
  auto keys = generalKeys(opt);
  // accountno first: the tables are resized as soon as it is known.
  if (!readKey(svc.store, keys[0])) return false;
  if (opt.accountno > 0) resizeAccountTables(opt.accountno);
  for (std::size_t i = 1; i < keys.size(); ++i) {
    const Text& name = keys[i].def.name;
    if (name == u"Defdialno" || name == u"Redialval") continue;  // not the monitor's
    if (!readKey(svc.store, keys[i])) return false;
  }
  for (int i = 1; i <= 2; ++i) {
    opt.Mailerdir[i] = svc.store.read(u"Mailerdir" + decimal(i), u"");
    svc.view.setMailerEnabled(i, !opt.Mailerdir[i].empty());
  }
  timers.setInterval(TimerId::checktimer, opt.Checktimerval != 0 ? 60000 : 0);
  svc.view.setLogVisible(opt.Option8value != 0);
  svc.view.applyLayout(opt.grdWidth, opt.frmWidth, opt.frmHeight);
  return true;
}

void MailForm::loadadata(int n) {
  if (n < 1) return;
  if (static_cast<std::size_t>(n) >= Scolor1.size()) resizeAccountTables(n);
  AccountSettings a = cur;
  auto keys = accountKeys(n, a);
  // Keys 0..5 are the login fields; a value that does not convert keeps the
  // field's previous content.
  for (int i = 0; i < 6; ++i) readKey(svc.store, keys[i]);
  a.Passw = a.Passw.empty() ? Text() : unscramblePass(a.Passw);
  a.Scolor1 = Scolor1[n];
  a.Scolor2 = Scolor2[n];
  a.Wavmode = Wavmode[n];
  a.Wavdir2_ = Wavdir2_[n];
  for (int i = 6; i < 10; ++i) readKey(svc.store, keys[i]);
  Scolor1[n] = a.Scolor1;
  Scolor2[n] = a.Scolor2;
  Wavmode[n] = a.Wavmode;
  Wavdir2_[n] = a.Wavdir2_;
  cur = a;
}

bool MailForm::startAndWait(const Text& commandLine) {
  auto pid = svc.processes.start(commandLine);
  if (!pid) return false;
  waitProcess(*pid);
  return true;
}

void MailForm::waitProcess(std::uint32_t pid) {
  auto handle = svc.processes.open(pid);
  std::uint32_t code = 0;
  for (;;) {
    if (handle) {
      if (auto c = svc.processes.exitCode(*handle)) code = *c;
    }
    svc.pump.doEvents();
    if (code != kStillActive || svc.pump.quitting()) break;
    svc.pump.idle();
  }
  if (handle) svc.processes.close(*handle);
}

}  // namespace tarvi
