// The one HTTP exchange signing in needs: a form POSTed to a token
// endpoint. Both programs call it from worker threads, never from a window
// thread, since it blocks until the reply or a timeout.
#pragma once

#include <string>

#include "common/text.h"

namespace tarvi::win32 {

struct HttpReply {
  int status = 0;     // the HTTP status; 0 when no reply came (see error)
  std::string body;   // at most oauth::kMaxTokenResponse + 1 bytes
  tarvi::Text error;  // why there is no reply, for the user; "" when status != 0
};

// POSTs `formBody` (application/x-www-form-urlencoded, Accept: application/json)
// to `url` and waits at most `timeoutMs` for each of resolving, connecting,
// sending and receiving. A URL that oauth::acceptedEndpoint refuses is not
// tried. https keeps WinHTTP's certificate checks; redirects are not followed.
// Callable from any thread; each call has its own WinHTTP session.
HttpReply postForm(const std::string& url, const std::string& formBody, unsigned timeoutMs);

}  // namespace tarvi::win32
