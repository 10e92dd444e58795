#include "settings/win32/loopback_listener.h"

#include <ws2tcpip.h>

#include <vector>

#include "common/oauth.h"

namespace tarvi::settings::win32 {
namespace {

// How long a connection may take to send its request head; a browser's
// real request comes at once, a preconnected socket may never send one.
constexpr ULONGLONG kReadLimitMs = 5000;
constexpr ULONGLONG kSendLimitMs = 3000;
// Waits are cut into slices so that stop() is seen soon.
constexpr long kSliceUs = 100 * 1000;
// Browsers open a few connections at once; more than this from one
// machine is not a browser.
constexpr std::size_t kMostClients = 16;

struct Client {
  SOCKET s = INVALID_SOCKET;
  std::string head;
  ULONGLONG deadline = 0;
};

void sendAll(SOCKET s, const std::string& bytes) {
  const ULONGLONG deadline = GetTickCount64() + kSendLimitMs;
  for (std::size_t at = 0; at < bytes.size() && GetTickCount64() < deadline;) {
    const int n = send(s, bytes.data() + at, static_cast<int>(bytes.size() - at), 0);
    if (n > 0) {
      at += static_cast<std::size_t>(n);
      continue;
    }
    if (WSAGetLastError() != WSAEWOULDBLOCK) return;
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(s, &writable);
    timeval slice{0, kSliceUs};
    if (select(0, nullptr, &writable, nullptr, &slice) == SOCKET_ERROR) return;
  }
}

// Sends what is left before the connection goes, so the browser shows the page.
void closeGracefully(SOCKET s) {
  shutdown(s, SD_SEND);
  closesocket(s);
}

}  // namespace

LoopbackListener::~LoopbackListener() {
  stop();
  if (started_) WSACleanup();
}

bool LoopbackListener::start(Handler handler) {
  if (thread_ || socket_ != INVALID_SOCKET) return false;
  handler_ = std::move(handler);
  WSADATA wsa;
  if (!started_) started_ = WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
  if (!started_) return false;
  socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (socket_ == INVALID_SOCKET) return false;
  // No other program may bind the same port and take the redirect.
  BOOL exclusive = TRUE;
  setsockopt(socket_, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  int length = sizeof address;
  u_long nonBlocking = 1;
  if (bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == SOCKET_ERROR ||
      listen(socket_, 8) == SOCKET_ERROR ||
      getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) == SOCKET_ERROR ||
      ioctlsocket(socket_, FIONBIO, &nonBlocking) == SOCKET_ERROR) {
    closesocket(socket_);
    socket_ = INVALID_SOCKET;
    return false;
  }
  port_ = ntohs(address.sin_port);
  stopping_ = false;
  thread_ = CreateThread(nullptr, 0, threadMain, this, 0, nullptr);
  if (!thread_) {
    closesocket(socket_);
    socket_ = INVALID_SOCKET;
    return false;
  }
  return true;
}

void LoopbackListener::stop() {
  stopping_ = true;
  // The thread leaves the socket alone once it has seen stopping_; closing
  // it only then keeps its handle from being reused under the thread.
  if (thread_) {
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
  }
  if (socket_ != INVALID_SOCKET) closesocket(socket_);
  socket_ = INVALID_SOCKET;
}

DWORD WINAPI LoopbackListener::threadMain(void* self) {
  static_cast<LoopbackListener*>(self)->serve();
  return 0;
}

void LoopbackListener::serve() {
  std::vector<Client> clients;
  bool done = false;
  while (!done && !stopping_) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket_, &readable);
    for (const Client& c : clients) FD_SET(c.s, &readable);
    timeval slice{0, kSliceUs};
    if (select(0, &readable, nullptr, nullptr, &slice) == SOCKET_ERROR) break;
    if (FD_ISSET(socket_, &readable)) {
      const SOCKET s = accept(socket_, nullptr, nullptr);
      if (s != INVALID_SOCKET) {
        u_long nonBlocking = 1;
        if (clients.size() >= kMostClients || ioctlsocket(s, FIONBIO, &nonBlocking) == SOCKET_ERROR)
          closesocket(s);
        else
          clients.push_back({s, {}, GetTickCount64() + kReadLimitMs});
      }
    }
    const ULONGLONG now = GetTickCount64();
    for (auto it = clients.begin(); it != clients.end();) {
      bool finished = now >= it->deadline;
      if (!finished && FD_ISSET(it->s, &readable)) {
        char buffer[4096];
        const int n = recv(it->s, buffer, sizeof buffer, 0);
        if (n > 0) {
          it->head.append(buffer, static_cast<std::size_t>(n));
          if (oauth::requestHeadComplete(it->head)) {
            const Reply reply = handler_(it->head);
            sendAll(it->s, reply.bytes);
            finished = true;
            done = done || reply.stop;
          } else {
            finished = oauth::requestHeadTooLarge(it->head);
          }
        } else {
          finished = n == 0 || WSAGetLastError() != WSAEWOULDBLOCK;
        }
      }
      if (finished) {
        closeGracefully(it->s);
        it = clients.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (const Client& c : clients) closesocket(c.s);
}

}  // namespace tarvi::settings::win32
