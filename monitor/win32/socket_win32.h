// Windows Sockets for the POP3 transport. Notifications arrive at one
// hidden message-only window per session kind under a private message.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <array>
#include <functional>

#include "monitor/pop3/socket_api.h"

namespace tarvi::win32 {

class Win32Sockets : public SocketApi {
 public:
  static constexpr UINT kNotifyMessage = WM_APP + 0x31;

  explicit Win32Sockets(HINSTANCE instance);
  ~Win32Sockets() override;
  Win32Sockets(const Win32Sockets&) = delete;
  Win32Sockets& operator=(const Win32Sockets&) = delete;

  // Creates the notification windows; false when they cannot be made.
  bool create();

  // Receives every notification: the socket and the error it carries.
  std::function<void(SocketHandle, int)> onNotify;

  void startup() override;
  void cleanup() override;
  void unhookBlockingHook() override;
  SocketHandle open() override;
  void select(SocketHandle sock, SessionKind kind, int events) override;
  std::uint32_t inetAddr(const std::string& host) override;
  std::optional<std::uint32_t> resolve(const std::string& host) override;
  int connect(SocketHandle sock, std::uint32_t addr, std::uint16_t port) override;
  int setNonBlocking(SocketHandle sock) override;
  int send(SocketHandle sock, const std::string& bytes) override;
  int recv(SocketHandle sock, char* buffer, int length) override;
  int close(SocketHandle sock) override;
  int lastError() override;

 private:
  static LRESULT CALLBACK proc(HWND, UINT, WPARAM, LPARAM);
  HINSTANCE instance_;
  std::array<HWND, kSessionKinds> windows_{};
};

}  // namespace tarvi::win32
