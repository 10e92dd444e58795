// The socket service the transport runs on: Windows Sockets in
// asynchronous mode, reduced to the calls the transport makes. Notifications
// come back through Transport::onNotify.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tarvi {

using SocketHandle = std::intptr_t;
constexpr SocketHandle kNoSocket = -1;

// Event masks as Windows Sockets numbers them.
constexpr int kFdRead = 0x01;
constexpr int kFdWrite = 0x02;
constexpr int kFdConnect = 0x10;
// Said once, when the server closed or reset the connection.
constexpr int kFdClose = 0x20;

constexpr int kWsaEWouldBlock = 10035;
constexpr int kWsaENotSock = 10038;

class SocketApi {
 public:
  virtual ~SocketApi() = default;
  // Windows Sockets for this connection: 0, or the error code that says
  // why it cannot be had. Each startup is ended by one cleanup.
  virtual int startup() = 0;
  virtual void cleanup() = 0;
  virtual void unhookBlockingHook() = 0;
  // A new IPv4 stream socket, kNoSocket when none could be made.
  virtual SocketHandle open() = 0;
  // Notifications of `events` on `sock` come back carrying `tag`, so that a
  // notification still queued for a closed socket is never taken for a new
  // socket that the system gave the same handle. Each call replaces the
  // previous mask.
  virtual void select(SocketHandle sock, std::uint32_t tag, int events) = 0;
  // Dotted address to network byte order; 0xFFFFFFFF when not one.
  virtual std::uint32_t inetAddr(const std::string& host) = 0;
  // Name lookup; the first IPv4 address in network byte order.
  virtual std::optional<std::uint32_t> resolve(const std::string& host) = 0;
  // `addr` in network byte order, `port` in host order. 0 or -1.
  virtual int connect(SocketHandle sock, std::uint32_t addr, std::uint16_t port) = 0;
  virtual int setNonBlocking(SocketHandle sock) = 0;  // 0 or -1
  virtual int send(SocketHandle sock, const std::string& bytes) = 0;  // bytes sent or -1
  virtual int recv(SocketHandle sock, char* buffer, int length) = 0;  // n, 0 at close, -1
  virtual int close(SocketHandle sock) = 0;
  virtual int lastError() = 0;
};

}  // namespace tarvi
