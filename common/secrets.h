// Secrets (passwords, refresh tokens) kept protected by the system for the
// current user: on Windows, DPAPI; in the tests, a fake.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarvi {

class SecretKeeper {
 public:
  virtual ~SecretKeeper() = default;
  // The protected form of `plain`, readable only by this user on this
  // machine; nullopt when the system refuses.
  virtual std::optional<std::string> protect(std::string_view plain) = 0;
  // `plain` again; nullopt for a blob this user cannot unprotect (another
  // user's, another machine's, damaged).
  virtual std::optional<std::string> unprotect(std::string_view blob) = 0;
};

}  // namespace tarvi
