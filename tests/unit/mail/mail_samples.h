// Builds mail text the way Japanese mail programs write it: ISO-2022-JP
// passages and Base64 encoded words. Written from the encoding side, apart
// from the decoders, so that the tests do not check the code against itself.
#pragma once

#include <cassert>
#include <string>

#include "common/cp932.h"
#include "common/text.h"

namespace tarvi::samples {

// A code-page-932 two-byte code to its JIS X 0208 row and cell bytes.
inline void sjisToJis(int s1, int s2, Text& out) {
  const int hi = s1 <= 0x9F ? s1 - 0x81 : s1 - 0xC1;
  int row, cell;
  if (s2 >= 0x9F) {
    row = hi * 2 + 2;
    cell = s2 - 0x9E;
  } else {
    row = hi * 2 + 1;
    cell = s2 - (s2 >= 0x80 ? 0x40 : 0x3F);
  }
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
    if (code > 0xFF) {
      if (!inJis) out += u"\x1b$B";
      inJis = true;
      sjisToJis(code >> 8, code & 0xFF, out);
    } else {
      if (inJis) out += close;
      inJis = false;
      out += c;
    }
  }
  if (inJis) out += close;
  return out;
}

inline Text base64(TextView bytes) {
  static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  Text out;
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned v = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
    for (int s = 18; s >= 0; s -= 6) out += static_cast<char16_t>(alphabet[(v >> s) & 63]);
  }
  if (bytes.size() - i == 1) {
    const unsigned v = bytes[i] << 16;
    out += static_cast<char16_t>(alphabet[(v >> 18) & 63]);
    out += static_cast<char16_t>(alphabet[(v >> 12) & 63]);
    out += u"==";
  } else if (bytes.size() - i == 2) {
    const unsigned v = (bytes[i] << 16) | (bytes[i + 1] << 8);
    out += static_cast<char16_t>(alphabet[(v >> 18) & 63]);
    out += static_cast<char16_t>(alphabet[(v >> 12) & 63]);
    out += static_cast<char16_t>(alphabet[(v >> 6) & 63]);
    out += u'=';
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
