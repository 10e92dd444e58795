#include "monitor/win32/tray_icon.h"

#include <shellapi.h>

#include <cwchar>

#include "common/win32/registry_store.h"
#include "monitor/desktop/tray.h"

namespace tarvi::win32 {
namespace {

constexpr UINT kIconId = 1;

// Copies as much of `text` as fits, always terminated.
template <std::size_t N>
void copyText(wchar_t (&dst)[N], const Text& text) {
  const std::wstring w = wide(text);
  const std::size_t n = w.size() < N - 1 ? w.size() : N - 1;
  std::wmemcpy(dst, w.data(), n);
  dst[n] = L'\0';
}

// Windows 10 and later; older ones have no such value, and their default
// taskbars are dark.
bool lightTaskbar() {
  DWORD light = 0, size = sizeof light;
  return RegGetValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize",
                      L"SystemUsesLightTheme", RRF_RT_REG_DWORD, nullptr, &light, &size) == ERROR_SUCCESS &&
         light == 1;
}

}  // namespace

Win32TrayIcon::Win32TrayIcon(HINSTANCE instance)
    : instance_(instance), taskbarCreated_(RegisterWindowMessageW(L"TaskbarCreated")) {}

Win32TrayIcon::~Win32TrayIcon() {
  for (HICON& h : pictures_)
    if (h) DestroyIcon(h);
}

void Win32TrayIcon::loadPictures() {
  // The small-icon size of the screen's DPI: the process is DPI aware, so
  // the metric is already scaled, and the picture is drawn at that size
  // instead of being stretched from 16 pixels.
  const int cx = GetSystemMetrics(SM_CXSMICON), cy = GetSystemMetrics(SM_CYSMICON);
  const bool light = lightTaskbar();
  const int ids[2] = {light ? kNormalIcon : kNormalDarkIcon, light ? kNewMailIcon : kNewMailDarkIcon};
  for (int i = 0; i < 2; ++i) {
    if (pictures_[i]) DestroyIcon(pictures_[i]);
    pictures_[i] = static_cast<HICON>(
        LoadImageW(instance_, MAKEINTRESOURCEW(ids[i]), IMAGE_ICON, cx, cy, LR_DEFAULTCOLOR));
  }
}

NOTIFYICONDATAW Win32TrayIcon::base() const {
  NOTIFYICONDATAW d{};
  d.cbSize = sizeof d;
  d.hWnd = hwnd_;
  d.uID = kIconId;
  return d;
}

void Win32TrayIcon::show(const Text& tooltip, bool newMail) {
  // Loaded afresh each time: after Explorer restarts the DPI may be another.
  loadPictures();
  NOTIFYICONDATAW d = base();
  d.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  d.uCallbackMessage = kCallbackMessage;
  d.hIcon = pictures_[newMail ? 1 : 0];
  copyText(d.szTip, tooltip);
  if (!Shell_NotifyIconW(NIM_ADD, &d)) Shell_NotifyIconW(NIM_MODIFY, &d);  // still there
}

void Win32TrayIcon::update(const Text& tooltip, bool newMail) {
  NOTIFYICONDATAW d = base();
  d.uFlags = NIF_ICON | NIF_TIP;
  d.hIcon = pictures_[newMail ? 1 : 0];
  copyText(d.szTip, tooltip);
  Shell_NotifyIconW(NIM_MODIFY, &d);
}

void Win32TrayIcon::remove() {
  NOTIFYICONDATAW d = base();
  Shell_NotifyIconW(NIM_DELETE, &d);
}

void Win32TrayIcon::balloon(const Text& title, const Text& text, bool heldInQuietTime) {
  NOTIFYICONDATAW d = base();
  d.uFlags = NIF_INFO;
  d.dwInfoFlags = NIIF_INFO | (heldInQuietTime ? NIIF_RESPECT_QUIET_TIME : 0);
  copyText(d.szInfoTitle, title);
  copyText(d.szInfo, text);
  Shell_NotifyIconW(NIM_MODIFY, &d);
}

void Win32TrayIcon::showMenu(Monitor& monitor) {
  HMENU menu = CreatePopupMenu();
  if (!menu) return;
  const auto& entries = trayMenu();
  // Past the entries of the fixed menu.
  const UINT signIn = static_cast<UINT>(entries.size()) + 1;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    // Above "終了": the sign-in an account waits for.
    if (i + 1 == entries.size() && monitor.needsSignIn())
      AppendMenuW(menu, MF_STRING, signIn, wide(kSignInMenuLabel).c_str());
    if (!entries[i].command)
      AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    else
      AppendMenuW(menu, MF_STRING, i + 1, wide(entries[i].label).c_str());
  }
  POINT pt{};
  GetCursorPos(&pt);
  // Without the foreground the menu would not close when the user clicks
  // elsewhere; the WM_NULL after it is the documented companion of that.
  SetForegroundWindow(hwnd_);
  const UINT chosen = static_cast<UINT>(TrackPopupMenu(
      menu, TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON | TPM_BOTTOMALIGN, pt.x, pt.y, 0, hwnd_,
      nullptr));
  PostMessageW(hwnd_, WM_NULL, 0, 0);
  DestroyMenu(menu);
  if (chosen == signIn) {
    monitor.signInAgain();
    return;
  }
  if (chosen >= 1 && chosen <= entries.size() && entries[chosen - 1].command)
    monitor.run(*entries[chosen - 1].command);
}

std::optional<LRESULT> Win32TrayIcon::onMessage(UINT msg, WPARAM, LPARAM lp, Monitor& monitor) {
  if (taskbarCreated_ != 0 && msg == taskbarCreated_) {
    monitor.taskbarRecreated();
    return 0;
  }
  if (msg == WM_DPICHANGED || msg == WM_DISPLAYCHANGE) {
    // The small-icon size follows the DPI: the pictures are loaded again
    // at the new size (the window handles the message too).
    monitor.taskbarRecreated();
    return std::nullopt;
  }
  if (msg == WM_SETTINGCHANGE && lp && std::wcscmp(reinterpret_cast<const wchar_t*>(lp), L"ImmersiveColorSet") == 0) {
    // The taskbar turned light or dark: the pictures made for it come.
    monitor.taskbarRecreated();
    return std::nullopt;
  }
  if (msg != kCallbackMessage) return std::nullopt;
  switch (LOWORD(lp)) {
    case WM_LBUTTONUP: monitor.run(kTrayClickCommand); break;
    // The balloon that asked for a new sign-in; other balloons only tell.
    case NIN_BALLOONUSERCLICK:
      if (monitor.tray().signInBalloon() && monitor.needsSignIn()) monitor.signInAgain();
      break;
    case WM_RBUTTONUP:
    case WM_CONTEXTMENU: showMenu(monitor); break;
    default: break;
  }
  return 0;
}

}  // namespace tarvi::win32
