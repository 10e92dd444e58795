#include "monitor/win32/popup_wiring.h"

namespace tarvi::win32 {

void PopupAndAlerts::install() {
  window.attachPopup(&popup);
  popup.initialize();
  blinker.initialize();
  popup.stopLamp = [this] { blinker.stop(); };
  form.initGrid = [this] { popup.initGrid(); };
  form.saveLayout = [this] { popup.saveLayout(); };
  form.timerHandlers[static_cast<int>(TimerId::closetimer)] = [this] { popup.closetimer_Timer(); };
  form.timerHandlers[static_cast<int>(TimerId::lighttimer)] = [this] { blinker.lighttimer_Timer(); };
  window.onMailBt = [this](int mailer) { form.MailBt_Click(mailer); };
}

void PopupAndAlerts::playSounds(const std::vector<bool>& newMailFlg) {
  playNewMailSounds(sound, {form.opt, form.Wavmode, form.Wavdir2_, newMailFlg});
}

}  // namespace tarvi::win32
