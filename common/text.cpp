#include "common/text.h"

namespace tarvi {

std::string toUtf8(TextView text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() &&
        text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

Text fromUtf8(std::string_view bytes) {
  Text out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const unsigned char b = static_cast<unsigned char>(bytes[i]);
    std::uint32_t c;
    std::size_t len;
    if (b < 0x80) { c = b; len = 1; }
    else if ((b & 0xE0) == 0xC0) { c = b & 0x1F; len = 2; }
    else if ((b & 0xF0) == 0xE0) { c = b & 0x0F; len = 3; }
    else if ((b & 0xF8) == 0xF0) { c = b & 0x07; len = 4; }
    else { out += u'\uFFFD'; ++i; continue; }
    if (i + len > bytes.size()) { out += u'\uFFFD'; ++i; continue; }
    bool ok = true;
    for (std::size_t k = 1; k < len; ++k) {
      const unsigned char t = static_cast<unsigned char>(bytes[i + k]);
      if ((t & 0xC0) != 0x80) { ok = false; break; }
      c = (c << 6) | (t & 0x3F);
    }
    static const std::uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (!ok || c < kMin[len] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += len;
  }
  return out;
}

Text ascii(std::string_view s) { return Text(s.begin(), s.end()); }

Text decimal(std::int64_t value) {
  // Built from the magnitude as unsigned so that INT64_MIN works too.
  std::uint64_t mag = value < 0 ? 0 - static_cast<std::uint64_t>(value)
                                : static_cast<std::uint64_t>(value);
  char16_t buf[24];
  int n = 0;
  do {
    buf[n++] = static_cast<char16_t>(u'0' + mag % 10);
    mag /= 10;
  } while (mag != 0);
  Text out;
  if (value < 0) out += u'-';
  while (n > 0) out += buf[--n];
  return out;
}

std::optional<std::int64_t> parseInteger(TextView text, std::int64_t min,
                                         std::int64_t max) {
  std::size_t b = 0, e = text.size();
  while (b < e && (text[b] == u' ' || text[b] == u'\t')) ++b;
  while (e > b && (text[e - 1] == u' ' || text[e - 1] == u'\t')) --e;
  if (b == e) return std::nullopt;
  bool neg = false;
  if (text[b] == u'-' || text[b] == u'+') {
    neg = text[b] == u'-';
    ++b;
  }
  if (b == e) return std::nullopt;
  // The magnitude is compared with the largest the sign allows before each
  // digit is added, so that no digit string overflows, however long.
  const std::uint64_t limit = neg ? (min < 0 ? 0 - static_cast<std::uint64_t>(min) : 0)
                                  : (max > 0 ? static_cast<std::uint64_t>(max) : 0);
  std::uint64_t mag = 0;
  bool over = false;
  for (std::size_t i = b; i < e; ++i) {
    if (text[i] < u'0' || text[i] > u'9') return std::nullopt;
    const unsigned d = static_cast<unsigned>(text[i] - u'0');
    if (mag > limit / 10 || (mag == limit / 10 && d > limit % 10))
      over = true;  // out of range; the rest must still be digits
    if (!over) mag = mag * 10 + d;
  }
  if (over) return std::nullopt;
  const std::int64_t v = neg ? static_cast<std::int64_t>(0 - mag) : static_cast<std::int64_t>(mag);
  if (v < min || v > max) return std::nullopt;
  return v;
}

void eraseAll(Text& text, TextView needle) {
  if (needle.empty()) return;
  std::size_t read = text.find(needle);
  if (read == Text::npos) return;
  std::size_t write = read;
  while (read < text.size()) {
    if (text.compare(read, needle.size(), needle) == 0) {
      read += needle.size();
    } else {
      text[write++] = text[read++];
    }
  }
  text.resize(write);
}

char16_t asciiLower(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
}

std::size_t findNoCase(TextView hay, TextView needle, std::size_t from) {
  if (from > hay.size() || needle.size() > hay.size() - from) return Text::npos;
  if (needle.empty()) return from;
  const char16_t first = asciiLower(needle[0]);
  const std::size_t last = hay.size() - needle.size();
  for (std::size_t i = from; i <= last; ++i) {
    if (asciiLower(hay[i]) != first) continue;
    std::size_t k = 1;
    while (k < needle.size() && asciiLower(hay[i + k]) == asciiLower(needle[k])) ++k;
    if (k == needle.size()) return i;
  }
  return Text::npos;
}

}  // namespace tarvi
