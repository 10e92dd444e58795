#include "monitor/mail/decode.h"

#include <array>
#include <string_view>

#include "common/cp932.h"

namespace tarvi {
namespace {

constexpr TextView kWordClose = u"?=";
constexpr TextView kJisOpen = u"\x1b$B";
constexpr TextView kJisCloseB = u"\x1b(B";
constexpr TextView kJisCloseJ = u"\x1b(J";
constexpr TextView kOldJisOpen = u"\x1b$@";

constexpr int kPad = -1;  // the value of "=" in a Base64 payload
constexpr int kSkip = -2;  // a character outside the alphabet

constexpr std::array<int, 128> makeBase64Table() {
  std::array<int, 128> t{};
  for (auto& v : t) v = kSkip;
  constexpr std::string_view alphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (std::size_t i = 0; i < alphabet.size(); ++i) t[static_cast<unsigned char>(alphabet[i])] = static_cast<int>(i);
  t['='] = kPad;
  return t;
}
constexpr auto kBase64 = makeBase64Table();

int base64Value(char16_t c) { return c < 128 ? kBase64[c] : kSkip; }

void appendByte(Text& out, int byte) { out += cp932::charOf(byte); }

// The single-byte code of a character, or -1 when it has none (a two-byte
// character or one the code page cannot write).
int byteCode(char16_t c) {
  const int code = cp932::codeOf(c);
  return code >= 0 && code <= 0xFF ? code : -1;
}

Text jisDecode(TextView text, TextView close) {
  Text out;
  out.reserve(text.size());
  std::size_t pos = 0;
  for (;;) {
    const std::size_t open = findNoCase(text, kJisOpen, pos);
    const std::size_t end =
        open == Text::npos ? Text::npos : findNoCase(text, close, open + kJisOpen.size());
    if (end == Text::npos) {
      // No passage, or one that is never closed: we cannot tell where the
      // JIS bytes stop, so what follows is shown as it came.
      out.append(text.substr(pos));
      break;
    }
    out.append(text.substr(pos, open - pos));
    const std::size_t first = open + kJisOpen.size();
    for (std::size_t i = first; i < end; ++i) {
      // A character outside the byte range means this is not JIS text at
      // all (the sender wrote Shift_JIS or worse): keep the whole text.
      if (byteCode(text[i]) < 0) return Text(text);
    }
    for (std::size_t i = first; i + 1 < end; i += 2) {
      const int b1 = byteCode(text[i]);
      const int b2 = byteCode(text[i + 1]);
      if (b1 < 0x20 || b2 < 0x20) {
        // A line break or other control inside a passage is kept as it is.
        out += text[i];
        out += text[i + 1];
      } else {
        out += jisToSjis(static_cast<std::uint8_t>(b1), static_cast<std::uint8_t>(b2));
      }
    }
    pos = end + close.size();
  }
  const std::size_t nul = out.find(u'\0');
  if (nul != Text::npos) out.resize(nul);
  return out;
}

}  // namespace

Text decodeBWord(TextView text) {
  const std::size_t open = findNoCase(text, kEncodedWordOpen);
  if (open == Text::npos) return Text(text);
  Text out(text.substr(0, open));
  const std::size_t start = open + kEncodedWordOpen.size();
  std::size_t end = text.find(kWordClose, start);
  if (end == Text::npos) end = text.size();

  std::array<int, 4> group{};
  int filled = 0;
  auto flush = [&] {
    for (int k = filled; k < 4; ++k) group[static_cast<std::size_t>(k)] = kPad;
    filled = 0;
    const auto [a1, a2, a3, a4] = group;
    // A group that begins with a pad carries no bits; it adds no byte.
    if (a1 == kPad) return;
    appendByte(out, a2 == kPad ? a1 * 4 : a1 * 4 + a2 / 16);
    if (a2 != kPad && a3 != kPad) appendByte(out, (a2 % 16) * 16 + a3 / 4);
    if (a3 != kPad && a4 != kPad) appendByte(out, (a3 % 4) * 64 + a4);
  };
  for (std::size_t i = start; i < end; ++i) {
    const int v = base64Value(text[i]);
    if (v == kSkip) continue;
    group[static_cast<std::size_t>(filled++)] = v;
    if (filled == 4) flush();
  }
  if (filled > 0) flush();
  return out;
}

Text jisToSjis(std::uint8_t b1, std::uint8_t b2) {
  if (b1 < 0x20 || b2 < 0x20) return Text{cp932::charOf(b1), cp932::charOf(b2)};
  const int r = b1 - 0x20;
  int c = b2 - 0x20;
  if (r == 0 || r > 94 || c > 94) return {};
  // Even rows use the upper half of the trail bytes. Their cell 0 (b2 =
  // 0x20) is let through as trail byte 0x9E, as mail in the wild has it.
  if (r % 2 == 0) c += 94;
  const int hi = (r - 1) / 2;
  const int s1 = hi <= 30 ? hi + 0x81 : hi + 0xC1;
  int s2;
  if (c >= 1 && c <= 63) {
    s2 = c + 0x3F;
  } else if (c >= 64 && c <= 188) {
    s2 = c + 0x40;
  } else {
    return {};
  }
  return Text(1, cp932::charOf(s1 * 256 + s2));
}

Text jisDecodeB(TextView text) { return jisDecode(text, kJisCloseB); }
Text jisDecodeJ(TextView text) { return jisDecode(text, kJisCloseJ); }

Text jisToText(TextView text) {
  return text.find(kJisCloseB) != Text::npos ? jisDecodeB(text) : jisDecodeJ(text);
}

Text dropNul(TextView text) {
  Text out(text);
  eraseAll(out, TextView(u"\0", 1));
  return out;
}

Text decodeHeader(TextView value, bool stripOldJis) {
  Text result;
  result.reserve(value.size());
  std::size_t pos = 0;
  for (;;) {
    const std::size_t open = findNoCase(value, kEncodedWordOpen, pos);
    if (open == Text::npos) break;
    const std::size_t close = value.find(kWordClose, open + kEncodedWordOpen.size());
    if (close == Text::npos) break;
    result.append(value.substr(pos, open - pos));
    Text dec = decodeBWord(value.substr(open, close + kWordClose.size() - open));
    if (stripOldJis) eraseAll(dec, kOldJisOpen);
    result += dec;
    pos = close + kWordClose.size();
  }
  result.append(value.substr(pos));
  return jisToText(dropNul(result));
}

}  // namespace tarvi
