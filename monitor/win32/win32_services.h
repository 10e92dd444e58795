// Win32 implementations of the monitor's platform services.
#pragma once

#include <windows.h>

#include <array>

#include "monitor/services/services.h"

namespace tarvi::win32 {

class Win32TimerDriver : public TimerDriver {
 public:
  // Posted to the window while a timer could not be set: the window hands
  // it to retryPending(). The first failure is also told, once.
  static constexpr UINT kRetryMessage = WM_APP + 4;

  ~Win32TimerDriver() override;
  void attach(HWND hwnd) { hwnd_ = hwnd; }
  void apply(TimerId id, std::uint32_t intervalMs, bool enabled) override;
  // Sets again the timers that could not be set (on the window's thread).
  void retryPending(bool tell);
  std::optional<std::uint64_t> nowMs() override { return GetTickCount64(); }
  std::optional<LocalTime> localTime() override {
    SYSTEMTIME t{};
    GetLocalTime(&t);
    return LocalTime{t.wHour, t.wMinute};
  }
  // Timer ids on the window are the TimerId values plus this base.
  static constexpr UINT_PTR kBase = 100;

 private:
  static void CALLBACK retryDue(void* self, BOOLEAN);
  bool set(int timer);
  HWND hwnd_ = nullptr;
  std::array<std::uint32_t, kTimerCount> pending_{};  // the interval of each timer not set, 0 when set
  HANDLE retry_ = nullptr;  // a timer-queue timer posting kRetryMessage while any is pending
  bool told_ = false;
};

class Win32Pump : public Pump {
 public:
  void doEvents() override;
  void idle() override;
  bool quitting() const override { return quitSeen; }
  // Set when WM_QUIT was taken from the queue during a nested pump, so that
  // the main loop still ends.
  bool quitSeen = false;
  int quitCode = 0;
};

class Win32Dialogs : public Dialogs {
 public:
  MsgAnswer messageBox(const Text& text, const Text& title, MsgButtons buttons, MsgIcon icon,
                       bool defaultSecond) override;
};

class Win32Processes : public Processes {
 public:
  Text exeFolder() override;
  std::optional<std::uint32_t> start(const Text& commandLine, const Text& application) override;
  std::optional<std::uintptr_t> open(std::uint32_t pid) override;
  std::optional<std::uint32_t> exitCode(std::uintptr_t handle) override;
  void close(std::uintptr_t handle) override;
  bool isOrdinaryFile(const Text& path) override;
  void exitNow() override;
};

}  // namespace tarvi::win32
