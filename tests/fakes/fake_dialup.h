#pragma once

#include <string>
#include <vector>

#include "monitor/desktop/dialup.h"

namespace tarvi::fakes {

// A Remote Access Service with a phone book and a line that connects after
// a number of polls, or never.
class FakeDialup : public DialupService {
 public:
  std::vector<RasHandle> active;  // handles of active connections
  std::vector<Text> phoneBook;
  // Polls before the line connects; -1: it goes to disconnected instead,
  // -2: it stays in progress for ever.
  int pollsToConnect = 0;
  std::uint32_t dialResult = 0;
  std::vector<std::string> calls;  // "enum", "entries", "dial NAME", "status", "hangup H"
  std::vector<RasHandle> dialHandlesIn;

  std::vector<RasHandle> connections() override {
    calls.push_back("enum");
    return active;
  }
  std::vector<Text> entries() override {
    calls.push_back("entries");
    return phoneBook;
  }
  std::uint32_t dial(const Text& entry, RasHandle& handle) override {
    calls.push_back("dial " + toUtf8(entry));
    dialHandlesIn.push_back(handle);
    handle = nextHandle_++;
    polls_ = 0;
    return dialResult;
  }
  std::uint32_t connectStatus(RasHandle handle, std::uint32_t& state) override {
    calls.push_back("status");
    ++polls_;
    if (pollsToConnect == -1) {
      state = kRasDisconnected;
    } else if (pollsToConnect == -2 || polls_ <= pollsToConnect) {
      state = 1;  // still dialling
    } else {
      state = kRasConnected;
      active.push_back(handle);
    }
    return 0;
  }
  void hangUp(RasHandle handle) override {
    calls.push_back("hangup " + std::to_string(handle));
    std::erase(active, handle);
  }
  int count(const std::string& prefix) const {
    int n = 0;
    for (auto& c : calls) n += c.rfind(prefix, 0) == 0;
    return n;
  }

 private:
  RasHandle nextHandle_ = 500;
  int polls_ = 0;
};

}  // namespace tarvi::fakes
