// Small helpers the settings program's dialogs share.
#pragma once

#include <windows.h>

#include <cstddef>

#include "common/text.h"
#include "common/win32/registry_store.h"

namespace tarvi::settings::win32 {

Text controlText(HWND dialog, int id);
void setControlText(HWND dialog, int id, const Text& text);
bool isChecked(HWND dialog, int id);
void setChecked(HWND dialog, int id, bool checked);
// A drop-down list of `items`, the one at `selected` chosen.
template <std::size_t N>
void fillCombo(HWND dialog, int id, const char16_t* const (&items)[N], int selected) {
  for (const char16_t* item : items)
    SendDlgItemMessageW(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(tarvi::win32::wide(item).c_str()));
  SendDlgItemMessageW(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}
void enableControl(HWND dialog, int id, bool enabled);

// The folder of tarvicfg.exe, without a trailing backslash.
Text programFolder();

// An SRW lock held exclusively for a scope: the worker threads of the
// connection test and of the sign-in share their results through one.
class Hold {
 public:
  explicit Hold(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
  ~Hold() { ReleaseSRWLockExclusive(&lock_); }
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;

 private:
  SRWLOCK& lock_;
};

// One tooltip window per dialog; the tips follow the controls' mouse moves.
class Tooltips {
 public:
  void attach(HWND dialog);
  void add(int id, const Text& tip);

 private:
  HWND dialog_ = nullptr;
  HWND tip_ = nullptr;
};

}  // namespace tarvi::settings::win32
