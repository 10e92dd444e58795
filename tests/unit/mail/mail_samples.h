// Builds mail text the way Japanese mail programs write it: ISO-2022-JP
// passages and Base64 encoded words. Written from the encoding side, apart
// from the decoders, so that the tests do not check the code against itself.
#pragma once

#include <algorithm>
#include <cassert>
#include <initializer_list>

#include "common/cp932.h"
#include "common/text.h"

namespace tarvi::samples {

// A code-page-932 two-byte code to its JIS X 0208 row and cell bytes.
inline void sjisToJis(int s1, int s2, Text& out) {
  const int hi = s1 <= 0x9F ? s1 - 0x81 : s1 - 0xC1;
  const bool evenRow = s2 >= 0x9F;
  const int row = hi * 2 + (evenRow ? 2 : 1);
  const int cell = evenRow ? s2 - 0x9E : s2 - (s2 >= 0x80 ? 0x40 : 0x3F);
  out += static_cast<char16_t>(row + 0x20);
  out += static_cast<char16_t>(cell + 0x20);
}

// Text as 7-bit ISO-2022-JP: two-byte characters framed by ESC $ B and
// `close` (ESC ( B by default). Only ASCII and two-byte characters.
inline Text jis(TextView text, TextView close = u"\x1b(B") {
  Text out;
  bool inJis = false;
  for (char16_t c : text) {
    const int code = cp932::codeOf(c);
    assert(code >= 0 && (code < 0x80 || code > 0xFF));
    if (code > 0xFF && !inJis) out += u"\x1b$B";
    if (code <= 0xFF && inJis) out += close;
    inJis = code > 0xFF;
    if (inJis)
      sjisToJis(code >> 8, code & 0xFF, out);
    else
      out += c;
  }
  if (inJis) out += close;
  return out;
}

// Base64 of byte characters (each below 0x100), padded with "=".
inline Text base64(TextView bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  Text out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    unsigned v = 0;
    for (std::size_t k = 0; k < 3; ++k) v = v << 8 | (k < n ? bytes[i + k] & 0xFFu : 0u);
    for (std::size_t k = 0; k < 4; ++k)
      out += k <= n ? static_cast<char16_t>(kAlphabet[(v >> (18 - 6 * k)) & 63]) : u'=';
  }
  return out;
}

// One encoded word for `text`, with the opening written as `open`.
inline Text bWord(TextView text, TextView open = u"=?ISO-2022-JP?B?") {
  return Text(open) + base64(jis(text)) + u"?=";
}

// Lines joined with CRLF.
inline Text lines(std::initializer_list<TextView> parts) {
  Text out;
  for (TextView p : parts) {
    out += p;
    out += u"\r\n";
  }
  return out;
}

}  // namespace tarvi::samples
