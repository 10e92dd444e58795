// The socket service the transport runs on: Windows Sockets in
// asynchronous mode, reduced to the calls the transport makes. Notifications
// come back through Transport::onNotify.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tarvi {

using SocketHandle = std::intptr_t;
constexpr SocketHandle kNoSocket = -1;

// Event masks as Windows Sockets numbers them.
constexpr int kFdRead = 0x01;
constexpr int kFdWrite = 0x02;
constexpr int kFdConnect = 0x10;
// Said once, when the server closed or reset the connection.
constexpr int kFdClose = 0x20;
// Not Windows Sockets': the lookup that resolve() started has ended.
constexpr int kFdResolved = 0x10000;
// Not Windows Sockets' either: the work runWork() took off the window
// thread is done.
constexpr int kFdWorkDone = 0x20000;

// One address of a host, as the lookup gave it.
struct SocketAddress {
  enum class Family { V4, V6 };
  Family family = Family::V4;
  std::array<std::uint8_t, 16> bytes{};  // network order; the first 4 for IPv4
  std::uint16_t port = 0;                 // host order
  bool operator==(const SocketAddress&) const = default;
};

constexpr int kWsaEWouldBlock = 10035;
constexpr int kWsaENotSock = 10038;
constexpr int kWsaETimedOut = 10060;
constexpr int kWsaHostNotFound = 11001;

class SocketApi {
 public:
  virtual ~SocketApi() = default;
  // Windows Sockets for this connection: 0, or the error code that says
  // why it cannot be had. Each startup is ended by one cleanup.
  virtual int startup() = 0;
  virtual void cleanup() = 0;
  virtual void unhookBlockingHook() = 0;
  // A new stream socket of the family, kNoSocket when none could be made.
  virtual SocketHandle open(SocketAddress::Family family) = 0;
  // Notifications of `events` on `sock` come back carrying `tag`, so that a
  // notification still queued for a closed socket is never taken for a new
  // socket that the system gave the same handle. Each call replaces the
  // previous mask.
  virtual void select(SocketHandle sock, std::uint32_t tag, int events) = 0;
  // Looks `host` up (a name, or an IPv4 or IPv6 literal, the latter with or
  // without brackets) off the caller's thread; the end comes as a
  // notification of kFdResolved carrying `tag` and, when nothing was
  // found, the error. A lookup never blocks the window thread.
  virtual void resolve(const std::string& host, std::uint16_t port, std::uint32_t tag) = 0;
  // What the lookup of `tag` found, in the order to try; given once.
  virtual std::vector<SocketAddress> resolved(std::uint32_t tag) = 0;
  // 0 or -1.
  virtual int connect(SocketHandle sock, const SocketAddress& address) = 0;
  // Runs `work` on a thread of its own (what may wait long, as building a
  // certificate chain may); its end comes as a notification of kFdWorkDone
  // carrying `tag`. `work` owns what it touches.
  virtual void runWork(std::function<void()> work, std::uint32_t tag) = 0;
  virtual int setNonBlocking(SocketHandle sock) = 0;  // 0 or -1
  virtual int send(SocketHandle sock, const std::string& bytes) = 0;  // bytes sent or -1
  virtual int recv(SocketHandle sock, char* buffer, int length) = 0;  // n, 0 at close, -1
  virtual int close(SocketHandle sock) = 0;
  virtual int lastError() = 0;
};

}  // namespace tarvi
