#include "monitor/desktop/alerts.h"

namespace tarvi {
namespace {

constexpr int kWindows9x = 1;
constexpr int kWindowsNT = 2;

}  // namespace

void ScrollLamp::scrollLamp(int mode) {
  const int platform = kb_.platform();
  Keyboard::StateTable table{};
  // Only the toggle bit says whether the lamp is lit: the high bit merely
  // says the key is held down, and reading it as "lit" would make an "off"
  // request switch the lamp on while the user holds Scroll Lock.
  bool lit = false;
  if (platform == kWindows9x) {
    if (kb_.getState(table)) lit = (table[Keyboard::kScroll] & 1) != 0;
  } else if (platform == kWindowsNT) {
    lit = (kb_.keyState(Keyboard::kScroll) & 1) != 0;
  }
  if (mode == 0 && !lit) return;
  if (platform == kWindows9x) {
    lightFlg_ = lightFlg_ == 0 ? 1 : 0;
    if (mode == 0) lightFlg_ = 0;
    table[Keyboard::kScroll] = static_cast<std::uint8_t>(lightFlg_);
    kb_.setState(table);
  } else if (platform == kWindowsNT) {
    kb_.keyEvent(Keyboard::kScroll, 0, 0);
    kb_.keyEvent(Keyboard::kScroll, 0, Keyboard::kKeyUp);
  }
}

void LampBlinker::initialize() {
  timers_.setInterval(TimerId::lighttimer, kLightInterval);
  timers_.setInterval(TimerId::Timer1, kTimer1Interval);
}

void LampBlinker::Lightbrink() {
  lamp_.scrollLamp(1);
  lightCount_ = 0;
  timers_.enable(TimerId::lighttimer);
}

void LampBlinker::lighttimer_Timer() {
  lamp_.scrollLamp(1);
  if (opt_.Lighttimerval == 0) return;
  // Saturate rather than wrap: a count that wrapped negative would never
  // pass the limit.
  if (lightCount_ < INT16_MAX) ++lightCount_;
  if (lightCount_ / 2 > opt_.Lighttimerval) {
    lightCount_ = 0;
    stop();
  }
}

void LampBlinker::Timer1_Timer() {
  timers_.disable(TimerId::Timer1);
  lamp_.scrollLamp(0);
}

void LampBlinker::stop() {
  timers_.disable(TimerId::lighttimer);
  lamp_.scrollLamp(0);
  timers_.enable(TimerId::Timer1);
}

void playNewMailSounds(SoundPlayer& player, const SoundChoice& c) {
  if (c.opt.Option2value == 0) return;
  bool general = false;
  for (std::size_t a = 1; a < c.newMailFlg.size(); ++a) {
    if (!c.newMailFlg[a]) continue;
    const std::int16_t mode = a < c.Wavmode.size() ? c.Wavmode[a] : 0;
    if (mode == 1) {
      const Text path = a < c.Wavdir2_.size() ? c.Wavdir2_[a] : Text();
      if (path.empty())
        player.beep();
      else
        player.play(path, false);
    } else if (mode == 0) {
      general = true;
    }
  }
  if (!general) return;
  if (c.opt.Wavdir.empty())
    player.beep();
  else
    player.play(c.opt.Wavdir, true);
}

}  // namespace tarvi
