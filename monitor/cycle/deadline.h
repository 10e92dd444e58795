// The time limit of one account's session: the limit counts whole minutes
// since the last notification on the connection.
#pragma once

#include <cstdint>

#include "common/settings.h"
#include "monitor/services/services.h"

namespace tarvi {

class SessionDeadline {
 public:
  static constexpr std::uint32_t kMinute = 60000;

  SessionDeadline(Timers& timers, const GeneralSettings& options)
      : timers_(timers), options_(options) {}

  void install();  // the timer's interval; it stays disabled
  void start();    // a new session: the first minute from now
  void stop();
  // A notification of the session. Only a running limit counts it: one
  // that comes after the session was given up must not start it again.
  void activity();
  // A tick of the timer: true once the limit is reached (it then stops).
  bool tick();

 private:
  bool minutePassed();
  void restoreInterval();

  Timers& timers_;
  const GeneralSettings& options_;
  int minutes_ = 1;
  std::uint64_t lastActivity_ = 0;
  bool haveActivity_ = false;
  bool shortened_ = false;          // the timer runs a remainder
  std::uint32_t fullInterval_ = 0;  // its interval otherwise
};

}  // namespace tarvi
