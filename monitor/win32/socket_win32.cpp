#define _WINSOCK_DEPRECATED_NO_WARNINGS
#include "monitor/win32/socket_win32.h"

#include <ws2tcpip.h>

#include <cstring>
#include <string>

namespace tarvi::win32 {
namespace {

const wchar_t kClassName[] = L"TarviMonSocketNotify";

SOCKET toSocket(SocketHandle s) { return static_cast<SOCKET>(s); }

}  // namespace

Win32Sockets::Win32Sockets(HINSTANCE instance) : instance_(instance) {}

Win32Sockets::~Win32Sockets() {
  AcquireSRWLockExclusive(&lookups_->lock);
  lookups_->window = nullptr;
  ReleaseSRWLockExclusive(&lookups_->lock);
  if (window_) DestroyWindow(window_);
  if (started_) WSACleanup();
}

bool Win32Sockets::create() {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &Win32Sockets::proc;
  wc.hInstance = instance_;
  wc.lpszClassName = kClassName;
  RegisterClassExW(&wc);
  window_ = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance_,
                            this);
  // The lookup and work threads post their ends here.
  lookups_->window = window_;
  return window_ != nullptr;
}

LRESULT CALLBACK Win32Sockets::proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* self = static_cast<Win32Sockets*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  } else if (msg == kWorkDoneMessage) {
    auto* self = reinterpret_cast<Win32Sockets*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self && self->onNotify) self->onNotify(kNoSocket, static_cast<std::uint32_t>(wp), 0, kFdWorkDone);
    return 0;
  } else if (msg == kResolvedMessage) {
    auto* self = reinterpret_cast<Win32Sockets*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self && self->onNotify)
      self->onNotify(kNoSocket, static_cast<std::uint32_t>(wp), static_cast<int>(lp), kFdResolved);
    return 0;
  } else if (msg >= kNotifyBase && msg < kNotifyBase + kTagSlots) {
    auto* self = reinterpret_cast<Win32Sockets*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self && self->onNotify)
      self->onNotify(static_cast<SocketHandle>(wp), self->tags_[msg - kNotifyBase],
                     WSAGETSELECTERROR(lp), WSAGETSELECTEVENT(lp));
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

int Win32Sockets::startup() {
  // Started once for the process and ended with the service: starting and
  // ending the library around every connection costs a load of its
  // providers each time, for nothing.
  if (started_) return 0;
  WSADATA data;
  const int r = WSAStartup(MAKEWORD(2, 2), &data);
  if (r != 0) return r;
  if (data.wVersion != MAKEWORD(2, 2)) {
    WSACleanup();
    return WSAVERNOTSUPPORTED;
  }
  started_ = true;
  return 0;
}

void Win32Sockets::cleanup() {}

void Win32Sockets::unhookBlockingHook() {
  // Blocking hooks belong to Windows Sockets 1.1; newer versions of the
  // library have none to remove.
}

SocketHandle Win32Sockets::open(SocketAddress::Family family) {
  const SOCKET s = ::socket(family == SocketAddress::Family::V6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
  return s == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(s);
}

void Win32Sockets::select(SocketHandle sock, std::uint32_t tag, int events) {
  UINT slot = kTagSlots;
  for (UINT i = 0; i < kTagSlots && slot == kTagSlots; ++i)
    if (tags_[i] == tag) slot = i;
  if (slot == kTagSlots) {
    slot = nextSlot_;
    nextSlot_ = (nextSlot_ + 1) % kTagSlots;
    tags_[slot] = tag;
  }
  WSAAsyncSelect(toSocket(sock), window_, kNotifyBase + slot, events);
}

namespace {

struct LookupJob {
  std::shared_ptr<void> keep;  // the service's Lookups
  std::string host;
  std::uint16_t port;
  std::uint32_t tag;
};

void addAddress(const sockaddr* sa, std::uint16_t port, std::vector<SocketAddress>& out) {
  SocketAddress a;
  a.port = port;
  if (sa->sa_family == AF_INET) {
    std::memcpy(a.bytes.data(), &reinterpret_cast<const sockaddr_in*>(sa)->sin_addr, 4);
  } else if (sa->sa_family == AF_INET6) {
    a.family = SocketAddress::Family::V6;
    std::memcpy(a.bytes.data(), &reinterpret_cast<const sockaddr_in6*>(sa)->sin6_addr, 16);
  } else {
    return;
  }
  for (const auto& seen : out)
    if (seen == a) return;
  out.push_back(a);
}

}  // namespace

DWORD WINAPI Win32Sockets::lookupThread(void* param) {
  const std::unique_ptr<LookupJob> job(static_cast<LookupJob*>(param));
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  const int r = getaddrinfo(job->host.c_str(), nullptr, &hints, &found);
  std::vector<SocketAddress> addresses;
  for (const addrinfo* i = found; r == 0 && i; i = i->ai_next)
    if (i->ai_addr) addAddress(i->ai_addr, job->port, addresses);
  if (found) freeaddrinfo(found);
  auto& lookups = *static_cast<Lookups*>(job->keep.get());
  AcquireSRWLockExclusive(&lookups.lock);
  if (lookups.window) {
    lookups.found[job->tag] = std::move(addresses);
    PostMessageW(lookups.window, kResolvedMessage, job->tag, r == 0 ? 0 : (r == EAI_NONAME ? WSAHOST_NOT_FOUND : r));
  }
  ReleaseSRWLockExclusive(&lookups.lock);
  return 0;
}

void Win32Sockets::resolve(const std::string& host, std::uint16_t port, std::uint32_t tag) {
  auto* job = new LookupJob{lookups_, host, port, tag};
  HANDLE thread = CreateThread(nullptr, 0, &lookupThread, job, 0, nullptr);
  if (thread) {
    CloseHandle(thread);
    return;
  }
  delete job;
  PostMessageW(window_, kResolvedMessage, tag, WSAENOBUFS);
}

namespace {

struct WorkJob {
  std::shared_ptr<void> keep;  // the service's Lookups, for its window
  std::function<void()> work;
  std::uint32_t tag;
};

}  // namespace

DWORD WINAPI Win32Sockets::workThread(void* param) {
  const std::unique_ptr<WorkJob> job(static_cast<WorkJob*>(param));
  job->work();
  auto& lookups = *static_cast<Lookups*>(job->keep.get());
  AcquireSRWLockExclusive(&lookups.lock);
  if (lookups.window) PostMessageW(lookups.window, kWorkDoneMessage, job->tag, 0);
  ReleaseSRWLockExclusive(&lookups.lock);
  return 0;
}

void Win32Sockets::runWork(std::function<void()> work, std::uint32_t tag) {
  auto* job = new WorkJob{lookups_, std::move(work), tag};
  if (HANDLE thread = CreateThread(nullptr, 0, &workThread, job, 0, nullptr)) {
    CloseHandle(thread);
    return;
  }
  // No thread to be had: done here, late rather than never.
  workThread(job);
}

std::vector<SocketAddress> Win32Sockets::resolved(std::uint32_t tag) {
  std::vector<SocketAddress> out;
  AcquireSRWLockExclusive(&lookups_->lock);
  if (auto it = lookups_->found.find(tag); it != lookups_->found.end()) {
    out = std::move(it->second);
    lookups_->found.erase(it);
  }
  ReleaseSRWLockExclusive(&lookups_->lock);
  return out;
}

int Win32Sockets::connect(SocketHandle sock, const SocketAddress& address) {
  sockaddr_storage ss{};
  int length = 0;
  if (address.family == SocketAddress::Family::V6) {
    auto* sa = reinterpret_cast<sockaddr_in6*>(&ss);
    sa->sin6_family = AF_INET6;
    sa->sin6_port = htons(address.port);
    std::memcpy(&sa->sin6_addr, address.bytes.data(), 16);
    length = sizeof *sa;
  } else {
    auto* sa = reinterpret_cast<sockaddr_in*>(&ss);
    sa->sin_family = AF_INET;
    sa->sin_port = htons(address.port);
    std::memcpy(&sa->sin_addr, address.bytes.data(), 4);
    length = sizeof *sa;
  }
  return ::connect(toSocket(sock), reinterpret_cast<const sockaddr*>(&ss), length) == 0 ? 0 : -1;
}

int Win32Sockets::setNonBlocking(SocketHandle sock) {
  u_long on = 1;
  return ioctlsocket(toSocket(sock), FIONBIO, &on) == 0 ? 0 : -1;
}

int Win32Sockets::send(SocketHandle sock, const std::string& bytes) {
  return ::send(toSocket(sock), bytes.data(), static_cast<int>(bytes.size()), 0);
}

int Win32Sockets::recv(SocketHandle sock, char* buffer, int length) {
  return ::recv(toSocket(sock), buffer, length, 0);
}

int Win32Sockets::close(SocketHandle sock) { return closesocket(toSocket(sock)); }

int Win32Sockets::lastError() { return WSAGetLastError(); }

}  // namespace tarvi::win32
