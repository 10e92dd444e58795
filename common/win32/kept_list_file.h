// The folder of the monitor's kept lists (%LOCALAPPDATA%\Tarvi) and the
// removal of an account's list, which the settings program does when the
// account is deleted.
#pragma once

#include "common/settings.h"
#include "common/text.h"

namespace tarvi::win32 {

// The folder, without a trailing separator; empty when Windows names no
// local application data folder.
Text keptListFolder();
// The full path of the list kept for the mailbox `identity`; empty when
// there is no folder.
Text keptListPath(TextView identity);
// Deletes the list kept for the account, if there is one.
void removeKeptList(const AccountSettings& account);

}  // namespace tarvi::win32
