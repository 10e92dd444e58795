#pragma once

#include <windows.h>

#include <optional>

#include "common/settings.h"

namespace tarvi::settings::win32 {

// The account editor "ｱｶｳﾝﾄ", shown modally over `owner`. `existing` is the
// account being edited, or nullptr for a new one. Returns the record to
// store, or nullopt when the user cancels.
std::optional<AccountSettings> editAccount(HWND owner, const AccountSettings* existing);

}  // namespace tarvi::settings::win32
