#include "monitor/mail/charsets.h"

#include <array>
#include <cstdint>

#include "common/cp932.h"

namespace tarvi {
namespace {

constexpr char16_t kReplacement = u'\uFFFD';
constexpr unsigned char kEsc = 0x1B;

enum class Known { Utf8, Iso2022Jp, ShiftJis, EucJp, Latin1, Latin9, Windows1252, Ascii };

std::optional<Known> knownCharset(std::string_view name) {
  const std::string key = charsetKey(name);
  struct Alias {
    std::string_view key;
    Known charset;
  };
  // Keys as charsetKey writes them.
  static constexpr Alias kAliases[] = {
      {"utf8", Known::Utf8},
      {"unicode11utf8", Known::Utf8},
      {"iso2022jp", Known::Iso2022Jp},
      {"iso2022jp1", Known::Iso2022Jp},
      {"iso2022jp2", Known::Iso2022Jp},
      {"iso2022jp3", Known::Iso2022Jp},
      {"iso2022jp2004", Known::Iso2022Jp},
      {"iso2022jpms", Known::Iso2022Jp},
      {"csiso2022jp", Known::Iso2022Jp},
      {"csiso2022jp2", Known::Iso2022Jp},
      {"jis", Known::Iso2022Jp},
      {"shiftjis", Known::ShiftJis},
      {"sjis", Known::ShiftJis},
      {"xsjis", Known::ShiftJis},
      {"cp932", Known::ShiftJis},
      {"ms932", Known::ShiftJis},
      {"windows31j", Known::ShiftJis},
      {"windows932", Known::ShiftJis},
      {"xmscp932", Known::ShiftJis},
      {"mskanji", Known::ShiftJis},
      {"csshiftjis", Known::ShiftJis},
      {"cswindows31j", Known::ShiftJis},
      {"eucjp", Known::EucJp},
      {"xeucjp", Known::EucJp},
      {"xeuc", Known::EucJp},
      {"eucjpms", Known::EucJp},
      {"cp51932", Known::EucJp},
      {"cseucpkdfmtjapanese", Known::EucJp},
      {"iso88591", Known::Latin1},
      {"iso885911987", Known::Latin1},
      {"latin1", Known::Latin1},
      {"l1", Known::Latin1},
      {"isoir100", Known::Latin1},
      {"cp819", Known::Latin1},
      {"ibm819", Known::Latin1},
      {"csisolatin1", Known::Latin1},
      {"iso885915", Known::Latin9},
      {"latin9", Known::Latin9},
      {"l9", Known::Latin9},
      {"csisolatin9", Known::Latin9},
      {"windows1252", Known::Windows1252},
      {"cp1252", Known::Windows1252},
      {"xcp1252", Known::Windows1252},
      {"usascii", Known::Ascii},
      {"ascii", Known::Ascii},
      {"us", Known::Ascii},
      {"iso646us", Known::Ascii},
      {"ansix3.41968", Known::Ascii},
      {"csascii", Known::Ascii},
  };
  for (const auto& a : kAliases)
    if (a.key == key) return a.charset;
  return std::nullopt;
}

void appendCodePoint(Text& out, std::uint32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  } else {
    out += static_cast<char16_t>(cp);
  }
}

// One step of UTF-8 decoding at `i`: the number of bytes taken and the code
// point, or valid = false for an ill-formed sequence. An ill-formed
// sequence takes only its longest valid prefix (at least one byte), so that
// a broken character never swallows the character after it.
struct Utf8Step {
  std::size_t length;
  std::uint32_t codePoint;
  bool valid;
};

Utf8Step utf8Step(std::string_view s, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char b = byte(i);
  if (b < 0x80) return {1, b, true};
  std::size_t need;
  std::uint32_t cp;
  // The allowed range of the second byte excludes overlong forms,
  // surrogates and code points above U+10FFFF.
  unsigned char lo = 0x80, hi = 0xBF;
  if (b >= 0xC2 && b <= 0xDF) {
    need = 1;
    cp = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    need = 2;
    cp = b & 0x0F;
    if (b == 0xE0) lo = 0xA0;
    if (b == 0xED) hi = 0x9F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    need = 3;
    cp = b & 0x07;
    if (b == 0xF0) lo = 0x90;
    if (b == 0xF4) hi = 0x8F;
  } else {
    return {1, 0, false};
  }
  std::size_t k = 1;
  for (; k <= need; ++k) {
    if (i + k >= s.size()) return {k, 0, false};
    const unsigned char t = byte(i + k);
    const unsigned char min = k == 1 ? lo : 0x80;
    const unsigned char max = k == 1 ? hi : 0xBF;
    if (t < min || t > max) return {k, 0, false};
    cp = cp << 6 | (t & 0x3F);
  }
  return {k, cp, true};
}

Text utf8ToText(std::string_view bytes) {
  Text out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const Utf8Step step = utf8Step(bytes, i);
    if (step.valid)
      appendCodePoint(out, step.codePoint);
    else
      out += kReplacement;
    i += step.length;
  }
  return out;
}

bool hasHighBytes(std::string_view bytes) {
  for (char c : bytes)
    if (static_cast<unsigned char>(c) >= 0x80) return true;
  return false;
}

// The character of a code-page-932 two-byte code; U+FFFD when the code
// names none. The code page answers U+30FB for "none", which is also the
// real character at 0x8145.
char16_t cp932Pair(int code) {
  const char16_t c = cp932::charOf(code);
  return c == u'\u30FB' && code != 0x8145 ? kReplacement : c;
}

// A JIS X 0208 row and cell (each byte 0x21..0x7E) through the Shift_JIS
// arithmetic to code page 932, whose table holds the NEC row 13 and the
// NEC-selected IBM extension rows 89..92 that ISO-2022-JP encoders of
// Windows mail emit.
char16_t jisPair(unsigned char b1, unsigned char b2) {
  const int row = b1 - 0x20;
  const int cell = b2 - 0x20;
  const int lead = (row + 1) / 2 + (row <= 62 ? 0x80 : 0xC0);
  const int trail = row % 2 == 1 ? cell + 0x3F + (cell >= 64 ? 1 : 0) : cell + 0x9E;
  return cp932Pair(lead * 256 + trail);
}

bool isJisByte(unsigned char b) { return b >= 0x21 && b <= 0x7E; }

char16_t halfWidthKana(unsigned char offset) { return static_cast<char16_t>(0xFF61 + offset); }

Text shiftJisToText(std::string_view bytes) {
  Text out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const unsigned char b = static_cast<unsigned char>(bytes[i]);
    if (!cp932::isLeadByte(b)) {
      out += cp932::charOf(b);
      continue;
    }
    const unsigned char t = i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) : 0;
    if (t >= 0x40 && t <= 0xFC && t != 0x7F) {
      out += cp932Pair(b * 256 + t);
      ++i;
    } else {
      // The byte after a lone lead byte is a character of its own.
      out += kReplacement;
    }
  }
  return out;
}

Text eucJpToText(std::string_view bytes) {
  Text out;
  out.reserve(bytes.size());
  const auto at = [&](std::size_t k) {
    return k < bytes.size() ? static_cast<unsigned char>(bytes[k]) : 0;
  };
  const auto isEucByte = [](unsigned char b) { return b >= 0xA1 && b <= 0xFE; };
  for (std::size_t i = 0; i < bytes.size();) {
    const unsigned char b = at(i);
    if (b < 0x80) {
      out += b;
      i += 1;
    } else if (b == 0x8E && at(i + 1) >= 0xA1 && at(i + 1) <= 0xDF) {
      out += halfWidthKana(static_cast<unsigned char>(at(i + 1) - 0xA1));
      i += 2;
    } else if (b == 0x8F && isEucByte(at(i + 1)) && isEucByte(at(i + 2))) {
      // JIS X 0212: a character code page 932 does not have.
      out += kReplacement;
      i += 3;
    } else if (isEucByte(b) && isEucByte(at(i + 1))) {
      out += jisPair(static_cast<unsigned char>(b - 0x80),
                     static_cast<unsigned char>(at(i + 1) - 0x80));
      i += 2;
    } else {
      out += kReplacement;
      i += 1;
    }
  }
  return out;
}

// ISO-2022-JP and its relatives as mail has them: ASCII and JIS-Roman,
// JIS X 0208 (old and new designation, and the JIS X 0213 plane 1 whose
// JIS X 0208 part is the same), half-width katakana by ESC ( I or SO/SI,
// and the Latin-1 single shifts of ISO-2022-JP-2. Sets we do not have
// (JIS X 0212, GB 2312, KS C 5601) give one U+FFFD per character.
Text iso2022JpToText(std::string_view bytes) {
  enum class Mode { Ascii, Kanji, Kana, OtherDouble };
  Mode mode = Mode::Ascii;
  bool shiftOut = false;
  bool g2Latin1 = false;
  const std::size_t n = bytes.size();
  const auto at = [&](std::size_t k) { return k < n ? static_cast<unsigned char>(bytes[k]) : 0; };
  Text out;
  out.reserve(n);
  for (std::size_t i = 0; i < n;) {
    const unsigned char b = at(i);
    if (b == kEsc) {
      const unsigned char e1 = at(i + 1), e2 = at(i + 2), e3 = at(i + 3);
      std::size_t length = 0;
      if (e1 == '$' && (e2 == 'B' || e2 == '@')) {
        mode = Mode::Kanji, length = 3;
      } else if (e1 == '$' && e2 == 'A') {
        mode = Mode::OtherDouble, length = 3;
      } else if (e1 == '$' && e2 == '(' && (e3 == 'B' || e3 == 'Q' || e3 == 'O')) {
        mode = Mode::Kanji, length = 4;
      } else if (e1 == '$' && e2 == '(' && (e3 == 'C' || e3 == 'D' || e3 == 'P')) {
        mode = Mode::OtherDouble, length = 4;
      } else if (e1 == '(' && (e2 == 'B' || e2 == 'J' || e2 == 'H')) {
        mode = Mode::Ascii, length = 3;
      } else if (e1 == '(' && e2 == 'I') {
        mode = Mode::Kana, length = 3;
      } else if (e1 == '.' && (e2 == 'A' || e2 == 'F')) {
        g2Latin1 = e2 == 'A', length = 3;
      } else if (e1 == 'N' && e2 >= 0x20 && e2 < 0x80) {
        out += g2Latin1 ? static_cast<char16_t>(e2 | 0x80) : kReplacement;
        length = 3;
      }
      if (length == 0) {
        out += kReplacement;  // an escape we cannot read
        length = 1;
      }
      i += length;
      continue;
    }
    if (b == 0x0E || b == 0x0F) {
      shiftOut = b == 0x0E;
      ++i;
      continue;
    }
    if (b >= 0x80) {
      // 8-bit half-width katakana, as some Japanese encoders wrote it.
      out += b >= 0xA1 && b <= 0xDF ? halfWidthKana(static_cast<unsigned char>(b - 0xA1))
                                    : kReplacement;
      ++i;
      continue;
    }
    if (!isJisByte(b)) {  // controls and space are the same in every mode
      out += b;
      ++i;
      continue;
    }
    if (shiftOut || mode == Mode::Kana) {
      out += b <= 0x5F ? halfWidthKana(static_cast<unsigned char>(b - 0x21)) : kReplacement;
      ++i;
    } else if (mode == Mode::Ascii) {
      out += b;
      ++i;
    } else if (isJisByte(at(i + 1))) {
      out += mode == Mode::Kanji ? jisPair(b, at(i + 1)) : kReplacement;
      i += 2;
    } else {
      out += kReplacement;
      ++i;
    }
  }
  return out;
}

// A label that promises 7-bit text on bytes that are 8-bit is a mislabel:
// the bytes are shown as what they are, UTF-8 when they are valid UTF-8.
Text sevenBitToText(std::string_view bytes, Known charset) {
  if (hasHighBytes(bytes)) {
    if (looksLikeUtf8(bytes)) return utf8ToText(bytes);
    // Shift_JIS sent as "ISO-2022-JP" by old Japanese mailers.
    if (charset == Known::Iso2022Jp && bytes.find(static_cast<char>(kEsc)) == std::string_view::npos)
      return shiftJisToText(bytes);
  }
  if (charset == Known::Iso2022Jp) return iso2022JpToText(bytes);
  Text out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    const unsigned char b = static_cast<unsigned char>(c);
    out += b < 0x80 ? static_cast<char16_t>(b) : kReplacement;
  }
  return out;
}

constexpr std::array<char16_t, 32> kWindows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char16_t latin9(unsigned char b) {
  switch (b) {
    case 0xA4: return 0x20AC;
    case 0xA6: return 0x0160;
    case 0xA8: return 0x0161;
    case 0xB4: return 0x017D;
    case 0xB8: return 0x017E;
    case 0xBC: return 0x0152;
    case 0xBD: return 0x0153;
    case 0xBE: return 0x0178;
    default: return b;
  }
}

Text singleByteToText(std::string_view bytes, Known charset) {
  Text out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    const unsigned char b = static_cast<unsigned char>(c);
    // Bytes 0x80..0x9F labelled ISO-8859-1 are Windows-1252 in practice:
    // C1 controls never stand in text, smart quotes from Windows often do.
    if (b >= 0x80 && b <= 0x9F && charset != Known::Latin9)
      out += kWindows1252High[b - 0x80];
    else if (charset == Known::Latin9)
      out += latin9(b);
    else
      out += static_cast<char16_t>(b);
  }
  return out;
}

}  // namespace

std::string charsetKey(std::string_view name) {
  std::string key;
  key.reserve(name.size());
  for (char c : name) {
    if (c == '-' || c == '_' || c == ' ' || c == '\t') continue;
    key += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return key;
}

bool looksLikeUtf8(std::string_view bytes) {
  bool high = false;
  for (std::size_t i = 0; i < bytes.size();) {
    const Utf8Step step = utf8Step(bytes, i);
    if (!step.valid) return false;
    high = high || step.length > 1;
    i += step.length;
  }
  return high;
}

std::optional<Text> charsetToText(std::string_view bytes, std::string_view charset,
                                  CharsetConverter* other) {
  const std::optional<Known> known = knownCharset(charset);
  if (!known) {
    if (other) return other->toText(bytes, charset);
    return std::nullopt;
  }
  switch (*known) {
    case Known::Utf8: return utf8ToText(bytes);
    case Known::Iso2022Jp:
    case Known::Ascii: return sevenBitToText(bytes, *known);
    case Known::ShiftJis: return shiftJisToText(bytes);
    case Known::EucJp: return eucJpToText(bytes);
    case Known::Latin1:
    case Known::Latin9:
    case Known::Windows1252: return singleByteToText(bytes, *known);
  }
  return std::nullopt;
}

}  // namespace tarvi
