// A host typed as an address rather than a name: connected at once,
// without a lookup.
#pragma once

#include <optional>
#include <string_view>

#include "monitor/services/socket_api.h"

namespace tarvi {

// "192.0.2.1", "::1", "[2001:db8::1]", "::ffff:192.0.2.1"; nullopt for
// anything else (a name, or an address with a zone or a stray character).
std::optional<SocketAddress> parseAddressLiteral(std::string_view host, std::uint16_t port);

}  // namespace tarvi
