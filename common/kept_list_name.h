// Where the monitor keeps what it listed of a mailbox between runs: one file
// per mailbox, named after its server, port and user, so that the settings
// program finds the file of an account it deletes and an account renumbered
// by a deletion keeps its file.
#pragma once

#include "common/settings.h"
#include "common/text.h"

namespace tarvi {

// The server, port and user of an account, as one text.
Text mailboxIdentity(const AccountSettings& a);

// The file name (no folder) for a mailbox identity: a hash of it, so that
// no character of a server or user name reaches the file system.
Text keptListFileName(TextView identity);

}  // namespace tarvi
