// Base64 (RFC 4648) for what the programs send and keep: SASL responses,
// protected blobs in the settings. Mail bodies are decoded in monitor/mail.
#pragma once

#include <string>
#include <string_view>

namespace tarvi {

// Standard alphabet with "=" padding; `url`: the URL-safe alphabet without
// padding (PKCE, JWT).
std::string encodeBase64(std::string_view bytes, bool url = false);

}  // namespace tarvi
