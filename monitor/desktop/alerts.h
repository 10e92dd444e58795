// New-mail alerts: the Scroll Lock lamp (toggling, blinking, stopping) and
// the choice of sounds at the end of a check. The rules live here; the
// keyboard and the sound player are thin platform services.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "common/settings.h"
#include "common/text.h"
#include "monitor/services/services.h"
#include "monitor/state/monitor_state.h"

namespace tarvi {

// The lamp over the raw keyboard.
class ScrollLamp : public KeyboardLamp {
 public:
  explicit ScrollLamp(Keyboard& keyboard) : kb_(keyboard) {}
  void toggle() override { set(true); }
  void putOut() override { set(false); }
  bool litOn9x() const { return litOn9x_; }

 private:
  void set(bool toggle);
  Keyboard& kb_;
  // What the monitor last set on Windows 9x, where writing the key state
  // table is the only way to change the lamp.
  bool litOn9x_ = false;
};

// The blinking: start() starts it, each tick toggles the lamp, and after
// the configured seconds it stops; a last timer puts the lamp out once
// more in case a tick was already queued.
class LampBlinker {
 public:
  static constexpr std::uint32_t kLightInterval = 500;
  static constexpr std::uint32_t kLampOffInterval = 300;

  LampBlinker(Timers& timers, KeyboardLamp& lamp, const GeneralSettings& opt)
      : timers_(timers), lamp_(lamp), opt_(opt) {}

  // Sets the timers' intervals; both stay disabled.
  void initialize();
  void start();
  void onBlinkTick();
  void onLampOffTick();
  // The standard stop: the blinking ends, the lamp goes out, and goes out
  // again shortly after in case a tick was already queued.
  void stop();
  std::int16_t blinkTicks() const { return blinkTicks_; }

 private:
  Timers& timers_;
  KeyboardLamp& lamp_;
  const GeneralSettings& opt_;
  std::int16_t blinkTicks_ = 0;
};

// The sound step of a check that found new mail: each account with new
// mail plays its own sound (the beep when it has no file) unless it is
// silent; the common sound plays once, after them, when any account with
// new mail uses it.
void playNewMailSounds(SoundPlayer& player, const GeneralSettings& options,
                       const AccountTable& accounts);

}  // namespace tarvi
