#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "common/secrets.h"

namespace tarvi::fakes {

// The system's protection: a blob is a marker with the machine key's name
// and the bytes XORed with the key, never the plain text; only the same key
// unprotects it, and a blob with another marker (another machine's, or
// damaged) is refused.
class FakeSecretKeeper : public SecretKeeper {
 public:
  explicit FakeSecretKeeper(std::string machineKey = "machine-A") : key_(std::move(machineKey)) {}

  std::optional<std::string> protect(std::string_view plain) override {
    if (refuseProtect) return std::nullopt;
    return head() + mix(plain);
  }
  std::optional<std::string> unprotect(std::string_view blob) override {
    if (!blob.starts_with(head())) return std::nullopt;
    return mix(blob.substr(head().size()));
  }

  bool refuseProtect = false;

 private:
  std::string head() const { return "FAKEDPAPI/" + key_ + ":"; }
  std::string mix(std::string_view bytes) const {
    std::string out(bytes);
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char>(out[i] ^ (key_[i % key_.size()] | 0x80));
    return out;
  }
  std::string key_;
};

}  // namespace tarvi::fakes
