#include "monitor/net/address_literal.h"

#include <vector>

namespace tarvi {
namespace {

// Four decimal parts of at most three digits, each below 256.
bool parseV4(std::string_view s, std::uint8_t* out) {
  int part = 0;
  for (std::size_t i = 0; i < s.size();) {
    if (part == 4) return false;
    unsigned value = 0;
    std::size_t digits = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9' && digits < 4) {
      value = value * 10 + static_cast<unsigned>(s[i] - '0');
      ++i;
      ++digits;
    }
    if (digits == 0 || digits > 3 || value > 255) return false;
    out[part++] = static_cast<std::uint8_t>(value);
    if (i == s.size()) break;
    if (s[i] != '.' || i + 1 == s.size()) return false;
    ++i;
  }
  return part == 4;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool parseV6(std::string_view s, std::uint8_t* out) {
  std::vector<std::uint16_t> head, tail;
  bool compressed = false;
  std::size_t i = 0;
  if (s.substr(0, 2) == "::") {
    compressed = true;
    i = 2;
  }
  while (i < s.size()) {
    auto& groups = compressed ? tail : head;
    // An IPv4 tail takes the last two groups.
    const std::size_t end = s.find(':', i);
    const std::string_view piece = s.substr(i, end == std::string_view::npos ? std::string_view::npos : end - i);
    if (end == std::string_view::npos && piece.find('.') != std::string_view::npos) {
      std::uint8_t v4[4];
      if (!parseV4(piece, v4)) return false;
      groups.push_back(static_cast<std::uint16_t>(v4[0] << 8 | v4[1]));
      groups.push_back(static_cast<std::uint16_t>(v4[2] << 8 | v4[3]));
      i = s.size();
      break;
    }
    if (piece.empty() || piece.size() > 4) return false;
    unsigned value = 0;
    for (char c : piece) {
      const int h = hexValue(c);
      if (h < 0) return false;
      value = value << 4 | static_cast<unsigned>(h);
    }
    groups.push_back(static_cast<std::uint16_t>(value));
    if (end == std::string_view::npos) {
      i = s.size();
      break;
    }
    i = end + 1;
    if (i < s.size() && s[i] == ':') {
      if (compressed) return false;  // a second "::"
      compressed = true;
      ++i;
    } else if (i == s.size()) {
      return false;  // a trailing single ':'
    }
  }
  const std::size_t groups = head.size() + tail.size();
  if (compressed ? groups > 7 : groups != 8) return false;
  std::vector<std::uint16_t> all = head;
  all.resize(8 - tail.size(), 0);
  all.insert(all.end(), tail.begin(), tail.end());
  for (int g = 0; g < 8; ++g) {
    out[2 * g] = static_cast<std::uint8_t>(all[static_cast<std::size_t>(g)] >> 8);
    out[2 * g + 1] = static_cast<std::uint8_t>(all[static_cast<std::size_t>(g)] & 0xFF);
  }
  return true;
}

}  // namespace

std::optional<SocketAddress> parseAddressLiteral(std::string_view host, std::uint16_t port) {
  SocketAddress a;
  a.port = port;
  if (parseV4(host, a.bytes.data())) return a;
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  if (host.find(':') == std::string_view::npos || !parseV6(host, a.bytes.data())) return std::nullopt;
  a.family = SocketAddress::Family::V6;
  return a;
}

}  // namespace tarvi
