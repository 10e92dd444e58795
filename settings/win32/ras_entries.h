#pragma once

#include <vector>

#include "common/text.h"

namespace tarvi::settings::win32 {

// The names of the default phonebook's dial-up entries, in the order the
// Remote Access Service returns them. Any failure, and a system without
// the service, gives an empty list and no message.
std::vector<Text> enumDialEntries();

}  // namespace tarvi::settings::win32
