// The connection test's link on Winsock: blocking calls on the test's
// worker thread, each bounded by a time limit and by cancel().
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>

#include "settings/connection_test.h"

namespace tarvi::settings::win32 {

class WinsockLink : public TestLink {
 public:
  explicit WinsockLink(int timeLimitMs);
  ~WinsockLink() override;
  WinsockLink(const WinsockLink&) = delete;
  WinsockLink& operator=(const WinsockLink&) = delete;

  Status connect(const std::string& host, int port) override;
  Status send(const std::string& bytes) override;
  Status receive(std::string& into) override;
  void close() override;

  // From any thread: the step under way and every later one fail at once.
  void cancel();

 private:
  // Waits until the socket can be read (or written); Ok, TimedOut or
  // Failed (cancelled).
  Status wait(bool forWrite);
  // Connects to one address of the host.
  Status connectTo(const addrinfo& address);

  const int timeLimitMs_;
  std::atomic<bool> cancelled_{false};
  SRWLOCK socketLock_ = SRWLOCK_INIT;  // guards s_ between close() and cancel()
  SOCKET s_ = INVALID_SOCKET;
  bool started_ = false;
};

}  // namespace tarvi::settings::win32
