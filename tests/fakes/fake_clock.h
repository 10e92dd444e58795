#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "monitor/desktop/services.h"

namespace tarvi::fakes {

// A clock for the window timers: advance() fires the ticks that fall due,
// in time order, through the given dispatcher. Setting a timer restarts its
// count, as SetTimer does.
class FakeClock : public TimerDriver {
 public:
  std::uint64_t now = 0;
  std::function<void(TimerId)> dispatch;
  std::array<int, kTimerCount> ticks{};

  void apply(TimerId id, std::uint32_t ms, bool on) override {
    auto& t = timers_[static_cast<int>(id)];
    t.interval = ms;
    t.on = on && ms != 0;
    t.due = now + ms;
  }
  bool running(TimerId id) const { return timers_[static_cast<int>(id)].on; }

  void advance(std::uint64_t ms) {
    const std::uint64_t end = now + ms;
    for (;;) {
      int next = -1;
      for (int i = 0; i < kTimerCount; ++i)
        if (timers_[i].on && timers_[i].due <= end && (next < 0 || timers_[i].due < timers_[next].due))
          next = i;
      if (next < 0) break;
      now = timers_[next].due;
      timers_[next].due = now + timers_[next].interval;
      ++ticks[next];
      if (dispatch) dispatch(static_cast<TimerId>(next));
    }
    now = end;
  }

 private:
  struct T {
    std::uint32_t interval = 0;
    bool on = false;
    std::uint64_t due = 0;
  };
  std::array<T, kTimerCount> timers_{};
};

}  // namespace tarvi::fakes
