// Text helpers shared by both programs. Text is UTF-16, one unit per
// character; bytes from the network or the code page are std::string.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvi {

using Text = std::u16string;
using TextView = std::u16string_view;

// UTF-8 <-> UTF-16, for logs, tests and the few places that talk UTF-8.
// Invalid sequences become U+FFFD; nothing throws.
std::string toUtf8(TextView text);
Text fromUtf8(std::string_view bytes);

// Plain ASCII to Text (for keys and decimal numbers).
Text ascii(std::string_view s);

// Decimal text of a number, "-" for negatives, no leading zeros.
Text decimal(std::int64_t value);

// Converts a decimal text to a number in [min, max]. Spaces around the
// number and one leading sign are accepted; anything else, an empty text,
// or a value out of range (however many digits) gives nullopt.
std::optional<std::int64_t> parseInteger(TextView text, std::int64_t min,
                                         std::int64_t max);

inline std::optional<std::int16_t> parseInt16(TextView text) {
  auto v = parseInteger(text, INT16_MIN, INT16_MAX);
  if (!v) return std::nullopt;
  return static_cast<std::int16_t>(*v);
}
inline std::optional<std::int32_t> parseInt32(TextView text) {
  auto v = parseInteger(text, INT32_MIN, INT32_MAX);
  if (!v) return std::nullopt;
  return static_cast<std::int32_t>(*v);
}

// Removes every occurrence of `needle` (none for an empty one), in one pass.
void eraseAll(Text& text, TextView needle);

// ASCII-only case folding, as the mail searches use it.
char16_t asciiLower(char16_t c);
// First position of needle in hay at or after `from`, ignoring ASCII case;
// npos when absent or when `from` is past the end.
std::size_t findNoCase(TextView hay, TextView needle, std::size_t from = 0);

}  // namespace tarvi
