#include "common/base64.h"

#include <algorithm>

namespace tarvi {

std::string encodeBase64(std::string_view bytes, bool url) {
  const char* digits = url ? "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"
                           : "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    unsigned v = 0;
    for (std::size_t k = 0; k < 3; ++k) v = v << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
    for (std::size_t k = 0; k < 4; ++k) {
      if (k <= n)
        out += digits[(v >> (18 - 6 * k)) & 63];
      else if (!url)
        out += '=';
    }
  }
  return out;
}

}  // namespace tarvi
