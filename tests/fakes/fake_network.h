#pragma once

#include "monitor/services/network_state.h"

namespace tarvi::fakes {

// A machine whose network the test switches on and off.
struct FakeNetwork : NetworkState {
  bool up = true;
  int asked = 0;
  bool online() override {
    ++asked;
    return up;
  }
};

}  // namespace tarvi::fakes
