// The platform services the monitor's core is handed. Each has a Win32
// implementation in monitor/win32 and a fake in tests/fakes.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "common/text.h"

namespace tarvi {

// The main window's timers, by purpose.
enum class TimerId {
  periodicCheck,    // every minute; a check when the interval is complete
  nextAccount,      // one second after a session, the next account
  sessionDeadline,  // every minute of a session; its time limit
  popupAutoClose,   // every second while the popup shown for new mail is open
  lampBlink,        // half a second, while the lamp blinks
  lampOff,          // once, shortly after the lamp was put out
  pushTick,         // every second while push connections are kept
  quietWait,        // every two seconds while the popup for new mail waits for the user
  networkWait,      // every second after a resume, until a network is up
};
constexpr int kTimerCount = 9;

// A time of day on the user's clock.
struct LocalTime {
  int hour = 0;    // 0..23
  int minute = 0;  // 0..59
};

class TimerDriver {
 public:
  virtual ~TimerDriver() = default;
  // Called whenever a timer's interval or enabled flag is set.
  virtual void apply(TimerId id, std::uint32_t intervalMs, bool enabled) = 0;
  // A steady clock in milliseconds, when the platform has one. With it the
  // session deadline notes the time of each notification instead of
  // restarting its timer on every reply.
  virtual std::optional<std::uint64_t> nowMs() { return std::nullopt; }
  // The time of day now, when the platform knows it (the tray icon's
  // tooltip tells when the last check ran).
  virtual std::optional<LocalTime> localTime() { return std::nullopt; }
};

// Timer state as the core sees it (interval and enabled flag of each timer),
// forwarded to the platform's driver.
class Timers {
 public:
  explicit Timers(TimerDriver& driver) : driver_(driver) {}
  void setInterval(TimerId id, std::uint32_t ms) {
    state(id).interval = ms;
    push(id);
  }
  // Enabling a running timer leaves its count alone, as disabling a stopped
  // one does; a restart is a disable followed by an enable. (Setting the
  // interval restarts it.) Otherwise every cycle end would push the next
  // periodic check back by the length of the cycle.
  void setEnabled(TimerId id, bool on) {
    if (state(id).enabled == on) return;
    state(id).enabled = on;
    push(id);
  }
  void enable(TimerId id) { setEnabled(id, true); }
  void disable(TimerId id) { setEnabled(id, false); }
  bool enabled(TimerId id) const { return state_[static_cast<int>(id)].enabled; }
  std::uint32_t interval(TimerId id) const { return state_[static_cast<int>(id)].interval; }
  // True when the timer would tick: enabled with an interval.
  bool running(TimerId id) const { return enabled(id) && interval(id) != 0; }
  std::optional<std::uint64_t> nowMs() { return driver_.nowMs(); }
  std::optional<LocalTime> localTime() { return driver_.localTime(); }
  // Hands every timer's state to the driver again (once it can act on it).
  void reapply() {
    for (int i = 0; i < kTimerCount; ++i) push(static_cast<TimerId>(i));
  }

 private:
  struct State {
    std::uint32_t interval = 0;
    bool enabled = false;
  };
  State& state(TimerId id) { return state_[static_cast<int>(id)]; }
  void push(TimerId id) { driver_.apply(id, state(id).interval, state(id).enabled); }
  TimerDriver& driver_;
  std::array<State, kTimerCount> state_{};
};

// "Let pending window messages be processed once."
class Pump {
 public:
  virtual ~Pump() = default;
  virtual void doEvents() = 0;
  // Waits briefly (a few tens of ms at most) for a new message; used by the
  // waiting loops so that they do not spin.
  virtual void idle() {}
  // True once the monitor has been unloaded (its window is gone and the
  // message loop is to end): the waits inside a command stop, and the
  // command does nothing more.
  virtual bool quitting() const { return false; }
};

enum class MsgButtons { Ok, YesNo };
enum class MsgIcon { None, Information, Exclamation, Critical, Question };
enum class MsgAnswer { Ok, Yes, No, Cancel };

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // A modal message box. `defaultSecond` makes the second button the default.
  virtual MsgAnswer messageBox(const Text& text, const Text& title, MsgButtons buttons,
                               MsgIcon icon, bool defaultSecond = false) = 0;
};

constexpr std::uint32_t kStillActive = 259;

class Processes {
 public:
  virtual ~Processes() = default;
  // The folder the monitor was started from, without a trailing separator.
  virtual Text exeFolder() = 0;
  // Starts a program with a normal, activated window; its process id.
  // `application` is the program's file when it is known (the command line
  // then cannot be taken for another program), empty otherwise.
  virtual std::optional<std::uint32_t> start(const Text& commandLine,
                                             const Text& application = {}) = 0;
  // Opens a process for querying; nullopt when it cannot be opened.
  virtual std::optional<std::uintptr_t> open(std::uint32_t pid) = 0;
  // The exit code, kStillActive while running; nullopt when the query fails.
  virtual std::optional<std::uint32_t> exitCode(std::uintptr_t handle) = 0;
  virtual void close(std::uintptr_t handle) = 0;
  // True when an ordinary file (not a folder, not hidden, not system) exists
  // under exactly this path.
  virtual bool isOrdinaryFile(const Text& path) = 0;
  // Ends the monitor's process at once.
  virtual void exitNow() = 0;
};

// What the core asks of the main window itself (which is also the popup).
class MainView {
 public:
  virtual ~MainView() = default;
  virtual void hide() = 0;
  virtual void show() = 0;
  virtual void setCaption(const Text& caption) = 0;
  virtual Text caption() = 0;
  virtual void removeCloseMenu() = 0;
  virtual void setMailerEnabled(int mailer, bool enabled) = 0;  // mailer 1..2
  virtual void setLogVisible(bool visible) = 0;
  // Column widths of the popup list and the window size, in twips.
  virtual void applyLayout(const std::array<std::int16_t, 6>& gridWidths, std::int16_t width,
                           std::int16_t height) = 0;
  // The hourglass while a retrieve or delete run works, the arrow after.
  virtual void setBusy(bool busy) = 0;
  // Starts the unload of the main window (which runs the unload query).
  virtual void unload() = 0;
};

// The Scroll Lock lamp of the keyboard.
class KeyboardLamp {
 public:
  virtual ~KeyboardLamp() = default;
  virtual void toggle() = 0;
  virtual void putOut() = 0;  // only when it is lit
};

// The keyboard as the lamp sees it: the calls Windows offers, one each.
class Keyboard {
 public:
  static constexpr int kScroll = 0x91;        // VK_SCROLL
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

class SoundPlayer {
 public:
  virtual ~SoundPlayer() = default;
  // Plays a wave file; synchronous calls return when the sound has ended.
  virtual void play(const Text& path, bool async) = 0;
  virtual void beep() = 0;
};

}  // namespace tarvi
