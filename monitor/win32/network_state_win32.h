// Whether a network is up, from the interfaces' state, and a window
// message whenever an interface comes or goes.
#pragma once

#include <windows.h>

#include "monitor/services/network_state.h"

namespace tarvi::win32 {

class Win32NetworkState : public NetworkState {
 public:
  // Posted to the window given to watch() when the interfaces changed.
  static constexpr UINT kChangedMessage = WM_APP + 3;

  ~Win32NetworkState() override;
  // Starts telling the window of changes; false when the system cannot.
  bool watch(HWND window);
  bool online() override;

 private:
  static void CALLBACK changed(void* context, void* row, int type);
  HWND window_ = nullptr;
  HANDLE notification_ = nullptr;
};

}  // namespace tarvi::win32
