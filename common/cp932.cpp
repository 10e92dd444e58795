#include "common/cp932.h"

#include <array>
#include <memory>

namespace tarvi::cp932 {
namespace {

#include "common/cp932_table.inc"

constexpr char16_t kDefaultChar = u'\u30FB';

int leadRow(unsigned char lead) {
  if (lead >= 0x81 && lead <= 0x9F) return lead - 0x81;
  if (lead >= 0xE0 && lead <= 0xFC) return lead - 0xE0 + 31;
  return -1;
}

bool isTrailByte(unsigned char b) { return b >= 0x40 && b <= 0xFC && b != 0x7F; }

char16_t singleByte(unsigned char b) {
  if (b < 0x80) return b;
  if (b == 0x80) return u'\u0080';
  if (b == 0xA0) return u'\uF8F0';
  if (b >= 0xA1 && b <= 0xDF) return static_cast<char16_t>(0xFF61 + (b - 0xA1));
  if (b >= 0xFD) return static_cast<char16_t>(0xF8F1 + (b - 0xFD));
  return kDefaultChar;
}

char16_t doubleByte(unsigned char lead, unsigned char trail) {
  if (!isTrailByte(trail)) return kDefaultChar;
  if (lead >= 0xF0 && lead <= 0xF9) {  // user-defined area -> private use
    const int t = trail - 0x40 - (trail > 0x7F ? 1 : 0);
    return static_cast<char16_t>(0xE000 + (lead - 0xF0) * 188 + t);
  }
  const int row = leadRow(lead);
  const char16_t c = row < 0 ? 0 : kCp932Double[row][trail - 0x40];
  return c ? c : kDefaultChar;
}

// Where several codes give one character, Windows encodes it with the JIS
// code first, then NEC row 13, then the IBM extension, and the NEC-selected
// IBM extension last; the rank orders the lead bytes that way.
int rank(unsigned char lead) {
  if (lead == 0x87) return 1;
  if (lead >= 0xFA) return 2;
  if (lead == 0xED || lead == 0xEE) return 3;
  return 0;
}

struct Reverse {
  std::array<std::uint16_t, 65536> code{};
  Reverse() {
    for (int b = 0; b < 0x100; ++b) {
      if (leadRow(static_cast<unsigned char>(b)) >= 0 || (b >= 0xF0 && b <= 0xF9)) continue;
      code[singleByte(static_cast<unsigned char>(b))] = static_cast<std::uint16_t>(b);
    }
    code[kDefaultChar] = 0;
    for (int r = 4; r >= 0; --r) {  // lowest rank written last, so it wins
      // Descending, so that the lowest code of a rank is written last and wins.
      for (int lead = 0xFC; lead >= 0x81; --lead) {
        if (leadRow(static_cast<unsigned char>(lead)) < 0 ||
            rank(static_cast<unsigned char>(lead)) != r)
          continue;
        for (int trail = 0xFC; trail >= 0x40; --trail) {
          const char16_t c = kCp932Double[leadRow(static_cast<unsigned char>(lead))][trail - 0x40];
          if (c) code[c] = static_cast<std::uint16_t>(lead << 8 | trail);
        }
      }
    }
    for (int lead = 0xF0; lead <= 0xF9; ++lead)
      for (int trail = 0x40; trail <= 0xFC; ++trail)
        if (isTrailByte(static_cast<unsigned char>(trail)))
          code[doubleByte(static_cast<unsigned char>(lead), static_cast<unsigned char>(trail))] =
              static_cast<std::uint16_t>(lead << 8 | trail);
    code[0x30FB] = 0x8145;  // the middle dot itself is a real character
    // Best-fit mappings Windows applies when encoding.
    if (!code[0x00A5]) code[0x00A5] = 0x5C;
    if (!code[0x203E]) code[0x203E] = 0x7E;
  }
};

const Reverse& reverse() {
  static const Reverse* r = new Reverse();
  return *r;
}

}  // namespace

bool isLeadByte(unsigned char b) {
  return leadRow(b) >= 0 || (b >= 0xF0 && b <= 0xF9);
}

Text decode(std::string_view bytes) {
  Text out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const unsigned char b = static_cast<unsigned char>(bytes[i]);
    if (!isLeadByte(b)) {
      out += singleByte(b);
      continue;
    }
    if (i + 1 < bytes.size() && isTrailByte(static_cast<unsigned char>(bytes[i + 1]))) {
      out += doubleByte(b, static_cast<unsigned char>(bytes[i + 1]));
      ++i;
    } else {
      out += kDefaultChar;
    }
  }
  return out;
}

int codeOf(char16_t c) {
  if (c == 0) return 0;
  const std::uint16_t code = reverse().code[c];
  return code ? code : -1;
}

std::string encode(TextView text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char16_t c : text) {
    const int code = codeOf(c);
    if (code < 0) {
      out += '?';
    } else if (code > 0xFF) {
      out += static_cast<char>(code >> 8);
      out += static_cast<char>(code & 0xFF);
    } else {
      out += static_cast<char>(code);
    }
  }
  return out;
}

char16_t charOf(int code) {
  if (code < 0 || code > 0xFFFF) return kDefaultChar;
  if (code <= 0xFF) {
    const unsigned char b = static_cast<unsigned char>(code);
    return isLeadByte(b) ? kDefaultChar : singleByte(b);
  }
  const unsigned char lead = static_cast<unsigned char>(code >> 8);
  if (!isLeadByte(lead)) return kDefaultChar;
  return doubleByte(lead, static_cast<unsigned char>(code & 0xFF));
}

}  // namespace tarvi::cp932
