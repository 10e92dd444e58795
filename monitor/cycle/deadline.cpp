#include "monitor/cycle/deadline.h"

namespace tarvi {

void SessionDeadline::install() {
  timers_.setInterval(TimerId::sessionDeadline, kMinute);
  timers_.disable(TimerId::sessionDeadline);
}

void SessionDeadline::start() {
  minutes_ = 1;
  timers_.enable(TimerId::sessionDeadline);
  // The limit of the new session runs in whole intervals again, from now.
  restoreInterval();
  haveActivity_ = false;
}

void SessionDeadline::stop() { timers_.disable(TimerId::sessionDeadline); }

void SessionDeadline::activity() {
  if (!timers_.enabled(TimerId::sessionDeadline)) return;
  if (auto now = timers_.nowMs()) {
    // Setting a timer is a call into the window system, on the path of
    // every reply; noting the time is free, and the tick catches up.
    lastActivity_ = *now;
    haveActivity_ = true;
    return;
  }
  timers_.disable(TimerId::sessionDeadline);
  timers_.enable(TimerId::sessionDeadline);
}

bool SessionDeadline::minutePassed() {
  const auto now = timers_.nowMs();
  if (!now) return true;
  const std::uint32_t full = shortened_ ? fullInterval_ : timers_.interval(TimerId::sessionDeadline);
  if (haveActivity_ && lastActivity_ + full > *now) {
    // A notification came within the interval: had it restarted the
    // count, the tick would come one interval after it.
    fullInterval_ = full;
    shortened_ = true;
    timers_.setInterval(TimerId::sessionDeadline,
                        static_cast<std::uint32_t>(lastActivity_ + full - *now));
    return false;
  }
  restoreInterval();
  return true;
}

void SessionDeadline::restoreInterval() {
  if (!shortened_) return;
  shortened_ = false;
  timers_.setInterval(TimerId::sessionDeadline, fullInterval_);
}

bool SessionDeadline::tick() {
  if (!minutePassed()) return false;
  if (options_.sessionLimitMinutes == 0 || minutes_ < options_.sessionLimitMinutes) {
    ++minutes_;
    return false;
  }
  stop();
  minutes_ = 1;
  return true;
}

}  // namespace tarvi
