#define _WINSOCK_DEPRECATED_NO_WARNINGS
#include "monitor/win32/socket_win32.h"

#include <cstring>

namespace tarvi::win32 {
namespace {

const wchar_t kClassName[] = L"TarviMonSocketNotify";

SOCKET toSocket(SocketHandle s) { return static_cast<SOCKET>(s); }

}  // namespace

Win32Sockets::Win32Sockets(HINSTANCE instance) : instance_(instance) {}

Win32Sockets::~Win32Sockets() {
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
  return window_ != nullptr;
}

LRESULT CALLBACK Win32Sockets::proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* self = static_cast<Win32Sockets*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
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

SocketHandle Win32Sockets::open() {
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
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

std::uint32_t Win32Sockets::inetAddr(const std::string& host) {
  return static_cast<std::uint32_t>(inet_addr(host.c_str()));
}

std::optional<std::uint32_t> Win32Sockets::resolve(const std::string& host) {
  const hostent* h = gethostbyname(host.c_str());
  if (!h || h->h_addrtype != AF_INET || h->h_length != 4 || !h->h_addr_list || !h->h_addr_list[0])
    return std::nullopt;
  std::uint32_t addr;
  std::memcpy(&addr, h->h_addr_list[0], sizeof addr);
  return addr;
}

int Win32Sockets::connect(SocketHandle sock, std::uint32_t addr, std::uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = addr;
  return ::connect(toSocket(sock), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0 ? 0
                                                                                         : -1;
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
