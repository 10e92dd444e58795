// Token renewals over HTTPS (WinHTTP) on a thread of their own each: the
// window thread only posts the request and later takes the reply as a
// window message, so a slow provider never freezes the popup or the keys.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <utility>

#include "monitor/services/token_service.h"

namespace tarvi::win32 {

class Win32TokenService : public TokenService {
 public:
  // A reply reaches the window as this message; its LPARAM owns the reply.
  static constexpr UINT kReplyMessage = WM_APP + 2;
  // The longest a renewal may take in all; the check's own time limit
  // usually ends the wait first.
  static constexpr unsigned kTimeoutMs = 60000;

  void attach(HWND hwnd) { hwnd_ = hwnd; }
  void post(std::uint32_t request, const std::string& url, const std::string& body) override;

  // The reply carried by a kReplyMessage (taken over: call once).
  static std::pair<std::uint32_t, TokenReply> take(LPARAM lp);

 private:
  HWND hwnd_ = nullptr;
};

}  // namespace tarvi::win32
