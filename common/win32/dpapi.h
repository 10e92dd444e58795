// Secrets protected by Windows for the current user (DPAPI): a blob made
// here unprotects only for the same user, on this machine or wherever the
// user's profile roams with its keys.
#pragma once

#include "common/secrets.h"

namespace tarvi::win32 {

class DpapiSecretKeeper : public SecretKeeper {
 public:
  std::optional<std::string> protect(std::string_view plain) override;
  std::optional<std::string> unprotect(std::string_view blob) override;
};

}  // namespace tarvi::win32
