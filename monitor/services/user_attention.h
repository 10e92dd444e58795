// Whether the user may be disturbed now, as the platform tells it.
#pragma once

namespace tarvi {

class UserAttention {
 public:
  virtual ~UserAttention() = default;
  // True while Windows says notifications must wait: a full-screen program
  // or game, a presentation, quiet hours. False when it cannot tell.
  virtual bool busy() = 0;
};

}  // namespace tarvi
