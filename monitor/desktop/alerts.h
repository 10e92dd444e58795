// New-mail alerts: the Scroll Lock lamp (toggling, blinking, stopping) and
// the choice of sounds at the end of a check. The rules live here; the
// keyboard and the sound player are thin platform services.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "common/settings.h"
#include "common/text.h"
#include "monitor/desktop/services.h"

namespace tarvi {

// The keyboard as the lamp sees it: the calls Windows offers, one each.
class Keyboard {
 public:
  static constexpr int kScroll = 0x91;  // VK_SCROLL
  static constexpr std::uint32_t kKeyUp = 2;  // KEYEVENTF_KEYUP
  using StateTable = std::array<std::uint8_t, 256>;

  virtual ~Keyboard() = default;
  // The platform identifier of GetVersionEx: 1 Windows 9x, 2 Windows NT.
  virtual int platform() = 0;
  // GetKeyState: high bit pressed, low bit toggled.
  virtual std::int16_t keyState(int vk) = 0;
  virtual bool getState(StateTable& table) = 0;
  virtual void setState(const StateTable& table) = 0;
  // A synthesised key event (keybd_event).
  virtual void keyEvent(std::uint8_t vk, std::uint8_t scan, std::uint32_t flags) = 0;
};

// scrollLamp(mode) over the raw keyboard: 1 toggles the lamp, 0 puts it out
// when it is lit.
class ScrollLamp : public KeyboardLamp {
 public:
  explicit ScrollLamp(Keyboard& keyboard) : kb_(keyboard) {}
  void scrollLamp(int mode) override;
  std::int16_t lightFlg() const { return lightFlg_; }

 private:
  Keyboard& kb_;
  // What the monitor last set on Windows 9x, where writing the key state
  // table is the only way to change the lamp.
  std::int16_t lightFlg_ = 0;
};

// The blinking: Lightbrink starts it, lighttimer ticks toggle the lamp and
// end it after Lighttimerval pairs, Timer1 puts the lamp out once more.
class LampBlinker {
 public:
  static constexpr std::uint32_t kLightInterval = 500;
  static constexpr std::uint32_t kTimer1Interval = 300;

  LampBlinker(Timers& timers, KeyboardLamp& lamp, const GeneralSettings& opt)
      : timers_(timers), lamp_(lamp), opt_(opt) {}

  // Sets the timers' intervals; both stay disabled.
  void initialize();
  void Lightbrink();
  void lighttimer_Timer();
  void Timer1_Timer();
  // The standard stop: the blinking ends, the lamp goes out, and Timer1
  // puts it out again shortly after in case a tick was already queued.
  void stop();
  std::int16_t lightCount() const { return lightCount_; }

 private:
  Timers& timers_;
  KeyboardLamp& lamp_;
  const GeneralSettings& opt_;
  std::int16_t lightCount_ = 0;
};

class SoundPlayer {
 public:
  virtual ~SoundPlayer() = default;
  // Plays a wave file; synchronous calls return when the sound has ended.
  virtual void play(const Text& path, bool async) = 0;
  virtual void beep() = 0;
};

// The sound step of a check that found new mail. Tables are indexed by
// account number 1..accounts; entry 0 is unused, short tables count as
// "no new mail" / general sound.
struct SoundChoice {
  const GeneralSettings& opt;
  const std::vector<std::int16_t>& Wavmode;
  const std::vector<Text>& Wavdir2_;
  const std::vector<bool>& newMailFlg;
};
void playNewMailSounds(SoundPlayer& player, const SoundChoice& choice);

}  // namespace tarvi
