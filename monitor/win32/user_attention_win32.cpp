#include "monitor/win32/user_attention_win32.h"

#include <windows.h>

#include <shellapi.h>

namespace tarvi::win32 {

bool ShellUserAttention::busy() {
  QUERY_USER_NOTIFICATION_STATE state{};
  // A shell that cannot say never holds the news back.
  if (FAILED(SHQueryUserNotificationState(&state))) return false;
  return state == QUNS_BUSY || state == QUNS_RUNNING_D3D_FULL_SCREEN || state == QUNS_PRESENTATION_MODE ||
         state == QUNS_QUIET_TIME;
}

}  // namespace tarvi::win32
