#pragma once

#include "common/text.h"

namespace tarvi::win32 {

// The folder the running program was started from, without a trailing
// separator (both programs look for each other and their files there).
Text exeFolder();

}  // namespace tarvi::win32
