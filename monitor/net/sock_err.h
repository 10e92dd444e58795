// The Japanese texts of the Windows Sockets error codes.
#pragma once

#include "common/text.h"

namespace tarvi {

// The message of a Windows Sockets error code; any other code gives the
// code in parentheses, so 0 gives "(0)", which callers take as no error.
Text sockErrText(int code);

// True for the texts that mean "no error": empty or "(0)".
inline bool isNoError(const Text& message) { return message.empty() || message == u"(0)"; }

}  // namespace tarvi
