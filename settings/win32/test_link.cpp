#include "settings/win32/test_link.h"

#include "settings/win32/ui.h"

#include <ws2tcpip.h>

#include <string>

namespace tarvi::settings::win32 {
namespace {

// Waits are cut into slices so that cancel() is seen soon even where
// closing a socket does not wake a wait on it.
constexpr int kSliceMs = 100;

}  // namespace

WinsockLink::WinsockLink(int timeLimitMs) : timeLimitMs_(timeLimitMs) {
  WSADATA wsa;
  started_ = WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
}

WinsockLink::~WinsockLink() {
  close();
  if (started_) WSACleanup();
}

TestLink::Status WinsockLink::wait(bool forWrite) {
  for (int waited = 0; waited < timeLimitMs_; waited += kSliceMs) {
    if (cancelled_) return Status::Failed;
    fd_set set, errors;
    FD_ZERO(&set);
    FD_ZERO(&errors);
    FD_SET(s_, &set);
    FD_SET(s_, &errors);
    timeval slice{0, kSliceMs * 1000};
    const int n = select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, &errors, &slice);
    if (n == SOCKET_ERROR) return Status::Failed;
    if (n > 0) return FD_ISSET(s_, &errors) ? Status::Failed : Status::Ok;
  }
  return cancelled_ ? Status::Failed : Status::TimedOut;
}

TestLink::Status WinsockLink::connect(const std::string& host, int port) {
  if (!started_) return Status::Failed;
  // "[::1]" as a URL writes it; the lookup takes the address alone.
  std::string name = host;
  if (name.size() > 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
  addrinfo hints{}, *found = nullptr;
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  if (getaddrinfo(name.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found)
    return Status::NotFound;
  // Each address in turn, as the monitor tries them: an IPv6 address that
  // leads nowhere gives way to the IPv4 one.
  Status last = Status::Failed;
  for (const addrinfo* a = found; a && !cancelled_; a = a->ai_next) {
    close();
    last = connectTo(*a);
    if (last == Status::Ok) break;
  }
  freeaddrinfo(found);
  return last;
}

TestLink::Status WinsockLink::connectTo(const addrinfo& address) {
  SOCKET s = socket(address.ai_family, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return Status::Failed;
  {
    Hold hold(socketLock_);
    s_ = s;
  }
  u_long nonBlocking = 1;
  ioctlsocket(s_, FIONBIO, &nonBlocking);
  const int r = ::connect(s_, address.ai_addr, static_cast<int>(address.ai_addrlen));
  if (r == 0) return Status::Ok;
  if (WSAGetLastError() != WSAEWOULDBLOCK) return Status::Refused;
  const Status w = wait(true);
  if (w != Status::Ok) {
    // A refused connection shows as an error on the socket.
    int error = 0, len = sizeof error;
    getsockopt(s_, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len);
    if (w == Status::Failed && error == WSAECONNREFUSED) return Status::Refused;
    return w;
  }
  int error = 0, len = sizeof error;
  getsockopt(s_, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len);
  if (error == WSAECONNREFUSED) return Status::Refused;
  return error == 0 ? Status::Ok : Status::Failed;
}

TestLink::Status WinsockLink::send(const std::string& bytes) {
  for (std::size_t at = 0; at < bytes.size();) {
    if (cancelled_ || s_ == INVALID_SOCKET) return Status::Failed;
    const int n = ::send(s_, bytes.data() + at, static_cast<int>(bytes.size() - at), 0);
    if (n > 0) {
      at += static_cast<std::size_t>(n);
      continue;
    }
    if (WSAGetLastError() != WSAEWOULDBLOCK) return Status::Failed;
    if (const Status w = wait(true); w != Status::Ok) return w;
  }
  return Status::Ok;
}

TestLink::Status WinsockLink::receive(std::string& into) {
  if (s_ == INVALID_SOCKET) return Status::Failed;
  if (const Status w = wait(false); w != Status::Ok) return w;
  char buf[16384];
  const int n = recv(s_, buf, sizeof buf, 0);
  if (n > 0) {
    into.append(buf, static_cast<std::size_t>(n));
    return Status::Ok;
  }
  return n == 0 ? Status::Closed : Status::Failed;
}

void WinsockLink::close() {
  Hold hold(socketLock_);
  if (s_ != INVALID_SOCKET) closesocket(s_);
  s_ = INVALID_SOCKET;
}

void WinsockLink::cancel() {
  cancelled_ = true;
  // Wakes a wait at once where the system does; the slices do elsewhere.
  Hold hold(socketLock_);
  if (s_ != INVALID_SOCKET) shutdown(s_, SD_BOTH);
}

}  // namespace tarvi::settings::win32
