#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "monitor/services/services.h"

namespace tarvi::fakes {

// A timer driver on a fake clock: advance() fires every tick that falls due,
// in time order, as the window's timers would.
class FakeTimerDriver : public TimerDriver {
 public:
  void apply(TimerId id, std::uint32_t ms, bool on) override {
    ++applies[static_cast<int>(id)];
    auto& t = t_[static_cast<int>(id)];
    t.interval = ms;
    t.on = on && ms != 0;
    t.due = now + ms;  // setting a timer restarts its count
  }

  std::optional<LocalTime> localTime() override { return timeOfDay; }
  std::optional<LocalTime> timeOfDay = LocalTime{9, 5};  // on the user's clock

  // Advances the clock by `ms`, firing ticks through onTick.
  void advance(std::uint64_t ms) {
    const std::uint64_t target = now + ms;
    for (;;) {
      int next = -1;
      for (int i = 0; i < kTimerCount; ++i)
        if (t_[i].on && t_[i].due <= target && (next < 0 || t_[i].due < t_[next].due)) next = i;
      if (next < 0) break;
      now = t_[next].due;
      t_[next].due += t_[next].interval;
      ticks.push_back({now, static_cast<TimerId>(next)});
      if (onTick) onTick(static_cast<TimerId>(next));
    }
    now = target;
  }

  // The driver's clock is the fake one, so the session deadline runs on it.
  std::optional<std::uint64_t> nowMs() override {
    if (!clock) return std::nullopt;
    return now;
  }
  bool clock = true;
  bool running(TimerId id) const { return t_[static_cast<int>(id)].on; }
  // Milliseconds until the timer's next tick (only meaningful when running).
  std::uint64_t dueIn(TimerId id) const { return t_[static_cast<int>(id)].due - now; }

  std::function<void(TimerId)> onTick;
  std::array<int, kTimerCount> applies{};  // calls per timer, each one a SetTimer or KillTimer
  std::uint64_t now = 0;
  struct Tick {
    std::uint64_t at;
    TimerId id;
  };
  std::vector<Tick> ticks;

  // The times at which `id` ticked.
  std::vector<std::uint64_t> tickTimes(TimerId id) const {
    std::vector<std::uint64_t> out;
    for (auto& t : ticks)
      if (t.id == id) out.push_back(t.at);
    return out;
  }

 private:
  struct State {
    std::uint32_t interval = 0;
    bool on = false;
    std::uint64_t due = 0;
  };
  std::array<State, kTimerCount> t_{};
};

}  // namespace tarvi::fakes
