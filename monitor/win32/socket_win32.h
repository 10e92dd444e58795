// Windows Sockets for the transport. Notifications arrive at one hidden
// message-only window; the message number stands for the tag the socket was
// selected with, so a notification still queued for a closed socket is told
// apart from one for a new socket with the same handle. Names are looked up
// on threads of their own, which post their end to the same window.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <array>
#include <functional>
#include <map>
#include <memory>

#include "monitor/services/socket_api.h"

namespace tarvi::win32 {

class Win32Sockets : public SocketApi {
 public:
  // Notification messages are kNotifyBase + a slot; each tag keeps its slot
  // while it is selected, and new tags take the slots in turn.
  static constexpr UINT kNotifyBase = WM_APP + 0x100;
  static constexpr UINT kTagSlots = 0x100;
  // A lookup ended: wParam is its tag, lParam the error (0 when found).
  static constexpr UINT kResolvedMessage = WM_APP + 0xFF;
  // Work of runWork() ended: wParam is its tag.
  static constexpr UINT kWorkDoneMessage = WM_APP + 0xFE;

  explicit Win32Sockets(HINSTANCE instance);
  ~Win32Sockets() override;
  Win32Sockets(const Win32Sockets&) = delete;
  Win32Sockets& operator=(const Win32Sockets&) = delete;

  // Creates the notification window; false when it cannot be made.
  bool create();

  // Receives every notification: the socket, the tag it was selected with,
  // the error it carries and the event it tells of.
  std::function<void(SocketHandle, std::uint32_t tag, int error, int event)> onNotify;

  int startup() override;
  void cleanup() override;
  void unhookBlockingHook() override;
  SocketHandle open(SocketAddress::Family family) override;
  void select(SocketHandle sock, std::uint32_t tag, int events) override;
  void resolve(const std::string& host, std::uint16_t port, std::uint32_t tag) override;
  std::vector<SocketAddress> resolved(std::uint32_t tag) override;
  int connect(SocketHandle sock, const SocketAddress& address) override;
  void runWork(std::function<void()> work, std::uint32_t tag) override;
  int setNonBlocking(SocketHandle sock) override;
  int send(SocketHandle sock, const std::string& bytes) override;
  int recv(SocketHandle sock, char* buffer, int length) override;
  int close(SocketHandle sock) override;
  int lastError() override;

 private:
  static LRESULT CALLBACK proc(HWND, UINT, WPARAM, LPARAM);
  HINSTANCE instance_;
  HWND window_ = nullptr;
  // The whole tag last selected under each message number. A stale message
  // finds the tag of its own, older connection here, or another's, unless a
  // full round of kTagSlots connections came between. Several connections
  // live at once (the cycle's and the push connections), whose tags come
  // from ranges apart, so a slot is not the tag's low byte but the next in
  // turn.
  std::array<std::uint32_t, kTagSlots> tags_{};
  UINT nextSlot_ = 0;
  bool started_ = false;
  // What the lookup threads found, by tag; shared with them, so that a
  // lookup that outlives the service finds no window to tell.
  struct Lookups {
    SRWLOCK lock = SRWLOCK_INIT;
    HWND window = nullptr;
    std::map<std::uint32_t, std::vector<SocketAddress>> found;
  };
  std::shared_ptr<Lookups> lookups_ = std::make_shared<Lookups>();
  static DWORD WINAPI lookupThread(void* job);
  static DWORD WINAPI workThread(void* job);
};

}  // namespace tarvi::win32
