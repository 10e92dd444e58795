#include "monitor/win32/popup_wiring.h"

#include <algorithm>

namespace tarvi::win32 {
namespace {

std::int16_t clamp16(std::int64_t v) {
  return static_cast<std::int16_t>(std::clamp<std::int64_t>(v, 0, INT16_MAX));
}

}  // namespace

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

void PopupAndAlerts::connect(CheckCycle& cycle, CheckTally& tally, MailList& mailList) {
  popup.mailList = &mailList;
  popup.lastCount = [&tally](int a) {
    return a >= 0 && static_cast<std::size_t>(a) < tally.lastCount.size()
               ? clamp16(tally.lastCount[static_cast<std::size_t>(a)])
               : std::int16_t{0};
  };
  popup.mailTotal = [&tally] {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(tally.mailTotal, 0, INT32_MAX));
  };
  popup.noNotify = [&tally] { return tally.noNotify != 0; };
  CycleHooks& h = cycle.hooks;
  h.setRetrDelEnabled = [this](bool on) { window.setActionsEnabled(on); };
  h.setGridEnabled = [this](bool on) { window.setGridEnabled(on); };
  h.refreshMarks = [this] { popup.refreshMarks(); };
  h.fillGrid = [this] { popup.fillGrid(); };
  h.clearGrid = [this] { popup.clearGrid(); };
  h.Lightbrink = [this] { blinker.Lightbrink(); };
  h.playSounds = [this, &tally] { playSounds(tally.newMailFlg); };
}

void PopupAndAlerts::playSounds(const std::vector<bool>& newMailFlg) {
  playNewMailSounds(sound, {form.opt, form.Wavmode, form.Wavdir2_, newMailFlg});
}

}  // namespace tarvi::win32
