// Token exchanges with a sign-in provider, done off the window thread: the
// request is posted, and its reply comes back later as one more event.
#pragma once

#include <cstdint>
#include <string>

#include "common/text.h"

namespace tarvi {

struct TokenReply {
  int status = 0;  // the HTTP status; 0 when no answer came
  std::string body;
  Text error;  // why no answer came
};

class TokenService {
 public:
  virtual ~TokenService() = default;
  // POSTs the form `body` to `url`; the reply reaches the monitor with the
  // same `request`, on its window thread, never inside this call.
  virtual void post(std::uint32_t request, const std::string& url, const std::string& body) = 0;
};

}  // namespace tarvi
