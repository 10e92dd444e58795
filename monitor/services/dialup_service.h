// The Remote Access Service, or nothing where it is not installed.
#pragma once

#include <cstdint>
#include <vector>

#include "common/text.h"

namespace tarvi {

using RasHandle = std::uintptr_t;

constexpr std::uint32_t kRasConnected = 0x2000;
constexpr std::uint32_t kRasDisconnected = 0x2001;

class DialupService {
 public:
  virtual ~DialupService() = default;
  // Handles of the active connections, in the order the service lists them.
  virtual std::vector<RasHandle> connections() = 0;
  // Phone-book entry names in the order the service lists them.
  virtual std::vector<Text> entries() = 0;
  // Fills the dial parameters stored for the entry and dials it
  // asynchronously; `handle` must be 0 on entry and receives the new
  // connection. Returns the service's result, 0 when dialling started.
  virtual std::uint32_t dial(const Text& entry, RasHandle& handle) = 0;
  // Returns the service's result; `state` receives the connection state.
  virtual std::uint32_t connectStatus(RasHandle handle, std::uint32_t& state) = 0;
  virtual void hangUp(RasHandle handle) = 0;
};

}  // namespace tarvi
