// Whether the machine is on a network at all: the monitor skips periodic
// checks while it is not, instead of reporting every account's failure.
#pragma once

namespace tarvi {

class NetworkState {
 public:
  virtual ~NetworkState() = default;
  // A network interface other than the loopback is up with an address.
  virtual bool online() = 0;
};

}  // namespace tarvi
