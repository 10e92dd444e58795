// Whether the user may be disturbed, as the shell tells it.
#pragma once

#include "monitor/services/user_attention.h"

namespace tarvi::win32 {

class ShellUserAttention : public UserAttention {
 public:
  bool busy() override;
};

}  // namespace tarvi::win32
