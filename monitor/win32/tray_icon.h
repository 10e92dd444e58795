// The notification-area icon on Windows (Shell_NotifyIconW). It shows what
// the core's Tray tells it, and turns clicks on the icon and its menu into
// the monitor's commands; it decides nothing itself.
#pragma once

#include <windows.h>

#include <shellapi.h>

#include <optional>

#include "monitor/app/monitor.h"
#include "monitor/services/tray_icon.h"

namespace tarvi::win32 {

class Win32TrayIcon : public TrayIcon {
 public:
  // Resource ids of the two pictures, for a light and for a dark taskbar.
  enum : int { kNormalIcon = 1, kNewMailIcon = 2, kNormalDarkIcon = 3, kNewMailDarkIcon = 4 };
  // The icon's notifications reach the window as this message.
  static constexpr UINT kCallbackMessage = WM_APP + 1;

  explicit Win32TrayIcon(HINSTANCE instance);
  ~Win32TrayIcon() override;
  Win32TrayIcon(const Win32TrayIcon&) = delete;
  Win32TrayIcon& operator=(const Win32TrayIcon&) = delete;

  // The window that owns the icon and receives its notifications.
  void attach(HWND hwnd) { hwnd_ = hwnd; }
  // The window's messages that concern the icon; a result when handled.
  std::optional<LRESULT> onMessage(UINT msg, WPARAM wp, LPARAM lp, Monitor& monitor);

  void show(const Text& tooltip, bool newMail) override;
  void update(const Text& tooltip, bool newMail) override;
  void remove() override;
  void balloon(const Text& title, const Text& text, bool heldInQuietTime) override;

 private:
  NOTIFYICONDATAW base() const;
  void loadPictures();
  void showMenu(Monitor& monitor);

  HINSTANCE instance_;
  HWND hwnd_ = nullptr;
  UINT taskbarCreated_ = 0;
  HICON pictures_[2] = {nullptr, nullptr};
};

}  // namespace tarvi::win32
