#include "monitor/desktop/alerts.h"

namespace tarvi {
namespace {

constexpr int kWindows9x = 1;
constexpr int kWindowsNT = 2;

}  // namespace

void ScrollLamp::set(bool toggle) {
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
  if (!toggle && !lit) return;
  if (platform == kWindows9x) {
    litOn9x_ = !litOn9x_;
    if (!toggle) litOn9x_ = false;
    table[Keyboard::kScroll] = static_cast<std::uint8_t>(litOn9x_ ? 1 : 0);
    kb_.setState(table);
  } else if (platform == kWindowsNT) {
    kb_.keyEvent(Keyboard::kScroll, 0, 0);
    kb_.keyEvent(Keyboard::kScroll, 0, Keyboard::kKeyUp);
  }
}

void LampBlinker::initialize() {
  timers_.setInterval(TimerId::lampBlink, kLightInterval);
  timers_.setInterval(TimerId::lampOff, kLampOffInterval);
}

void LampBlinker::start() {
  lamp_.toggle();
  blinkTicks_ = 0;
  timers_.enable(TimerId::lampBlink);
}

void LampBlinker::onBlinkTick() {
  lamp_.toggle();
  if (opt_.blinkSeconds == 0) return;
  // Saturate rather than wrap: a count that wrapped negative would never
  // pass the limit.
  if (blinkTicks_ < INT16_MAX) ++blinkTicks_;
  if (blinkTicks_ / 2 > opt_.blinkSeconds) {
    blinkTicks_ = 0;
    stop();
  }
}

void LampBlinker::onLampOffTick() {
  timers_.disable(TimerId::lampOff);
  lamp_.putOut();
}

void LampBlinker::stop() {
  timers_.disable(TimerId::lampBlink);
  lamp_.putOut();
  timers_.enable(TimerId::lampOff);
}

void playNewMailSounds(SoundPlayer& player, const GeneralSettings& options,
                       const AccountTable& accounts) {
  if (!options.soundOnNewMail) return;
  bool common = false;
  for (int a = 1; a <= accounts.count(); ++a) {
    const AccountState& r = *accounts.find(a);
    if (!r.newMail) continue;
    if (r.soundMode == kOwnSound) {
      if (r.soundFile.empty())
        player.beep();
      else
        player.play(r.soundFile, false);
    } else if (r.soundMode == kCommonSound) {
      common = true;
    }
  }
  if (!common) return;
  if (options.soundFile.empty())
    player.beep();
  else
    player.play(options.soundFile, true);
}

}  // namespace tarvi
