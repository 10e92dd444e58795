// A host as typed in the settings: whatever the bytes, an address that is
// taken as a literal comes back the same from its canonical writing.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "monitor/net/address_literal.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view host(reinterpret_cast<const char*>(data), size);
  const auto a = tarvi::parseAddressLiteral(host, 110);
  if (!a) return 0;
  if (a->port != 110) std::abort();
  std::string canonical;
  char part[8];
  if (a->family == tarvi::SocketAddress::Family::V4) {
    for (int i = 0; i < 4; ++i) {
      std::snprintf(part, sizeof part, "%s%u", i ? "." : "", a->bytes[static_cast<std::size_t>(i)]);
      canonical += part;
    }
  } else {
    for (int i = 0; i < 16; i += 2) {
      std::snprintf(part, sizeof part, "%s%x", i ? ":" : "",
                    a->bytes[static_cast<std::size_t>(i)] << 8 | a->bytes[static_cast<std::size_t>(i) + 1]);
      canonical += part;
    }
  }
  const auto again = tarvi::parseAddressLiteral(canonical, 110);
  if (!again || !(*again == *a)) std::abort();
  return 0;
}
