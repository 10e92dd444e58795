// SHA-256 (FIPS 180-4) in portable code: PKCE derives its challenge from it
// before any platform crypto service is around, and the tests can check it
// natively.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace tarvi::oauth {

std::array<std::uint8_t, 32> sha256(std::string_view bytes);

}  // namespace tarvi::oauth
