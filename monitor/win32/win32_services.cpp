#include "monitor/win32/win32_services.h"

#include "common/app.h"
#include "common/win32/paths.h"
#include "common/win32/registry_store.h"

namespace tarvi::win32 {

Win32TimerDriver::~Win32TimerDriver() {
  // Waits for a callback under way.
  if (retry_) DeleteTimerQueueTimer(nullptr, retry_, INVALID_HANDLE_VALUE);
}

void Win32TimerDriver::apply(TimerId id, std::uint32_t intervalMs, bool enabled) {
  if (!hwnd_) return;
  const int i = static_cast<int>(id);
  pending_[static_cast<std::size_t>(i)] = enabled ? intervalMs : 0;
  if (enabled && intervalMs != 0) {
    set(i);
  } else {
    KillTimer(hwnd_, kBase + static_cast<UINT_PTR>(i));
  }
}

bool Win32TimerDriver::set(int i) {
  const std::uint32_t interval = pending_[static_cast<std::size_t>(i)];
  // Restarts the count when it runs.
  if (SetTimer(hwnd_, kBase + static_cast<UINT_PTR>(i), interval, nullptr) != 0) {
    pending_[static_cast<std::size_t>(i)] = 0;
    return true;
  }
  // Out of window timers (the desktop's limit): without this one the
  // periodic check, a time limit or the next account would silently never
  // come. It is tried again every few seconds until it can be set.
  if (!retry_) CreateTimerQueueTimer(&retry_, nullptr, &retryDue, this, 5000, 5000, WT_EXECUTEDEFAULT);
  if (!told_) {
    told_ = true;
    PostMessageW(hwnd_, kRetryMessage, 1, 0);
  }
  return false;
}

void CALLBACK Win32TimerDriver::retryDue(void* self, BOOLEAN) {
  PostMessageW(static_cast<Win32TimerDriver*>(self)->hwnd_, kRetryMessage, 0, 0);
}

void Win32TimerDriver::retryPending(bool tell) {
  if (tell)
    MessageBoxW(hwnd_, L"ﾀｲﾏｰを設定できませんでした。設定できるまで、ﾒｰﾙﾁｪｯｸが遅れることがあります",
                wide(kAppTitle).c_str(), MB_OK | MB_ICONEXCLAMATION | MB_TASKMODAL);
  bool left = false;
  for (int i = 0; i < kTimerCount; ++i)
    if (pending_[static_cast<std::size_t>(i)] != 0 && !set(i)) left = true;
  if (!left && retry_) {
    // Not waited for here: this runs on the window thread, the callback
    // only posts.
    DeleteTimerQueueTimer(nullptr, retry_, nullptr);
    retry_ = nullptr;
  }
}

void Win32Pump::doEvents() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      quitSeen = true;
      quitCode = static_cast<int>(msg.wParam);
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void Win32Pump::idle() { MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT); }

MsgAnswer Win32Dialogs::messageBox(const Text& text, const Text& title, MsgButtons buttons,
                                   MsgIcon icon, bool defaultSecond) {
  UINT flags = MB_SETFOREGROUND | MB_TASKMODAL;
  flags |= buttons == MsgButtons::YesNo ? MB_YESNO : MB_OK;
  switch (icon) {
    case MsgIcon::Information: flags |= MB_ICONINFORMATION; break;
    case MsgIcon::Exclamation: flags |= MB_ICONEXCLAMATION; break;
    case MsgIcon::Critical: flags |= MB_ICONHAND; break;
    case MsgIcon::Question: flags |= MB_ICONQUESTION; break;
    case MsgIcon::None: break;
  }
  if (defaultSecond) flags |= MB_DEFBUTTON2;
  const int r = MessageBoxW(nullptr, wide(text).c_str(), wide(title).c_str(), flags);
  switch (r) {
    case IDYES: return MsgAnswer::Yes;
    case IDNO: return MsgAnswer::No;
    case IDOK: return MsgAnswer::Ok;
    default: return MsgAnswer::Cancel;
  }
}

Text Win32Processes::exeFolder() { return win32::exeFolder(); }

std::optional<std::uint32_t> Win32Processes::start(const Text& commandLine,
                                                   const Text& application) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION pi{};
  std::wstring cmd = wide(commandLine);
  // Without the program's file, CreateProcess splits an unquoted path at
  // its spaces and would start C:\Program.exe for "C:\Program Files\...".
  const std::wstring app = wide(application);
  if (!CreateProcessW(app.empty() ? nullptr : app.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0,
                      nullptr, nullptr, &si, &pi))
    return std::nullopt;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return pi.dwProcessId;
}

std::optional<std::uintptr_t> Win32Processes::open(std::uint32_t pid) {
  HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION | SYNCHRONIZE, TRUE, pid);
  if (!h) return std::nullopt;
  return reinterpret_cast<std::uintptr_t>(h);
}

std::optional<std::uint32_t> Win32Processes::exitCode(std::uintptr_t handle) {
  HANDLE h = reinterpret_cast<HANDLE>(handle);
  // Sleep on the process and the message queue together, so that waiting
  // for the settings program costs no processor time.
  MsgWaitForMultipleObjects(1, &h, FALSE, 100, QS_ALLINPUT);
  DWORD code = 0;
  if (!GetExitCodeProcess(h, &code)) return std::nullopt;
  return code;
}

void Win32Processes::close(std::uintptr_t handle) { CloseHandle(reinterpret_cast<HANDLE>(handle)); }

bool Win32Processes::isOrdinaryFile(const Text& path) {
  // Wildcards would make a search pattern of the path, not a file name.
  if (path.empty() || path.find_first_of(u"*?") != Text::npos) return false;
  const DWORD a = GetFileAttributesW(wide(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES &&
         !(a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
}

void Win32Processes::exitNow() { ExitProcess(0); }

}  // namespace tarvi::win32
