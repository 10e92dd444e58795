#include "monitor/mail/mime_header.h"

#include <array>
#include <vector>

#include "monitor/mail/charsets.h"

namespace tarvi {
namespace {

constexpr std::string_view kRawCharset = "iso-2022-jp";  // see rawToText
constexpr std::size_t kMaxContinuations = 100;

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Blanks, controls and DEL: what an encoded word never holds.
bool breaksWord(char c) {
  const unsigned char b = static_cast<unsigned char>(c);
  return b <= 0x20 || b == 0x7F;
}

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  return true;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
  return s;
}

// The first position at or after `from` whose character satisfies `match`.
// The searches of one decoding start at positions that never go back, so
// the answer of the last search is reused while it still lies ahead: the
// whole value is scanned once, however many searches there are.
template <typename Match>
class ForwardSearch {
 public:
  ForwardSearch(std::string_view text, Match match) : text_(text), match_(match) {}
  std::size_t next(std::size_t from) {
    if (from >= lastFrom_ && (found_ == std::string_view::npos || found_ >= from)) return found_;
    lastFrom_ = from;
    found_ = std::string_view::npos;
    for (std::size_t i = from; i < text_.size(); ++i) {
      if (match_(text_[i])) {
        found_ = i;
        break;
      }
    }
    return found_;
  }

 private:
  std::string_view text_;
  Match match_;
  std::size_t lastFrom_ = std::string_view::npos;
  std::size_t found_ = 0;
};

// Base64 as an encoded word holds it: the alphabet, then at most the
// padding. Anything else means the word is broken; nullopt.
std::optional<std::string> decodeBase64Word(std::string_view text) {
  while (!text.empty() && text.back() == '=') text.remove_suffix(1);
  if (text.size() % 4 == 1) return std::nullopt;
  std::string out;
  out.reserve(text.size() * 3 / 4);
  std::uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    int v;
    if (c >= 'A' && c <= 'Z') v = c - 'A';
    else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
    else if (c >= '0' && c <= '9') v = c - '0' + 52;
    else if (c == '+') v = 62;
    else if (c == '/') v = 63;
    else return std::nullopt;
    bits = (bits << 6 | static_cast<std::uint32_t>(v)) & 0xFFFFFF;
    if (++count == 4) {
      out += static_cast<char>(bits >> 16);
      out += static_cast<char>(bits >> 8 & 0xFF);
      out += static_cast<char>(bits & 0xFF);
      count = 0;
    }
  }
  if (count == 2) out += static_cast<char>(bits >> 4 & 0xFF);
  if (count == 3) {
    out += static_cast<char>(bits >> 10 & 0xFF);
    out += static_cast<char>(bits >> 2 & 0xFF);
  }
  return out;
}

// "Q": '_' is a space, =XX a byte. An '=' without two hex digits stays as
// it is rather than losing the text after it.
std::string decodeQWord(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '_') {
      out += ' ';
    } else if (c == '=' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
               hexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

// Bytes outside encoded words. The ISO-2022-JP reader shows ASCII as it
// is, decodes raw JIS passages, and reads 8-bit bytes as UTF-8 when they
// are valid UTF-8, else as Shift_JIS: exactly what raw header text needs.
Text rawToText(std::string_view bytes) {
  return charsetToText(bytes, kRawCharset, nullptr).value_or(Text());
}

struct Piece {
  enum Kind { Literal, Space, Word } kind;
  std::size_t begin, end;  // in the value, as it came
  std::string_view charset;  // Word: without its "*language"
  std::string bytes;         // Word: the decoded payload
};

// The encoded word starting at `at` ("=?"), or nullopt when what starts
// there is not a whole, well-formed one.
template <typename QuestionSearch, typename BreakSearch>
std::optional<Piece> parseWord(std::string_view value, std::size_t at, QuestionSearch& charsetEnd,
                               QuestionSearch& textEnd, BreakSearch& breaks) {
  const std::size_t q1 = charsetEnd.next(at + 2);
  if (q1 == std::string_view::npos || q1 + 2 >= value.size() || value[q1 + 2] != '?')
    return std::nullopt;
  const char encoding = lowerAscii(value[q1 + 1]);
  if (encoding != 'b' && encoding != 'q') return std::nullopt;
  // Neither encoding lets a '?' stand in the text, so the first one after
  // it must be the closing "?=".
  const std::size_t q2 = textEnd.next(q1 + 3);
  if (q2 == std::string_view::npos || q2 + 1 >= value.size() || value[q2 + 1] != '=')
    return std::nullopt;
  const std::size_t blank = breaks.next(at + 2);
  if (blank != std::string_view::npos && blank < q2) return std::nullopt;
  std::string_view charset = value.substr(at + 2, q1 - at - 2);
  // RFC 2231 lets a language follow the charset: "utf-8*ja".
  charset = charset.substr(0, charset.find('*'));
  if (charset.empty()) return std::nullopt;
  const std::string_view text = value.substr(q1 + 3, q2 - q1 - 3);
  std::optional<std::string> bytes =
      encoding == 'b' ? decodeBase64Word(text) : std::optional<std::string>(decodeQWord(text));
  if (!bytes) return std::nullopt;
  return Piece{Piece::Word, at, q2 + 2, charset, std::move(*bytes)};
}

// The value cut into literal text, blanks and encoded words.
std::vector<Piece> splitValue(std::string_view value) {
  std::vector<Piece> pieces;
  auto isQuestion = [](char c) { return c == '?'; };
  ForwardSearch charsetEnd(value, isQuestion);
  ForwardSearch textEnd(value, isQuestion);
  ForwardSearch breaks(value, breaksWord);
  const auto addLiteral = [&](std::size_t begin, std::size_t end) {
    if (!pieces.empty() && pieces.back().kind == Piece::Literal && pieces.back().end == begin)
      pieces.back().end = end;
    else
      pieces.push_back(Piece{Piece::Literal, begin, end, {}, {}});
  };
  // Inside a raw JIS passage the bytes are character codes: "=?" or a
  // blank there is not what it looks like.
  bool inRawJis = false;
  const std::size_t n = value.size();
  for (std::size_t i = 0; i < n;) {
    const char c = value[i];
    if (c == '\x1b') {
      const std::string_view esc = value.substr(i + 1, 2);
      if (esc == "$B" || esc == "$@" || esc == "$(" || esc == "(I") inRawJis = true;
      if (esc == "(B" || esc == "(J") inRawJis = false;
    } else if (!inRawJis && isSpace(c)) {
      std::size_t end = i;
      while (end < n && isSpace(value[end])) ++end;
      pieces.push_back(Piece{Piece::Space, i, end, {}, {}});
      i = end;
      continue;
    } else if (!inRawJis && c == '=' && i + 1 < n && value[i + 1] == '?') {
      if (auto word = parseWord(value, i, charsetEnd, textEnd, breaks)) {
        i = word->end;
        pieces.push_back(std::move(*word));
        continue;
      }
    }
    addLiteral(i, i + 1);
    ++i;
  }
  return pieces;
}

void controlsToSpaces(Text& text) {
  for (char16_t& c : text)
    if (c < 0x20 || c == 0x7F) c = u' ';
}

// The bytes of a quoted string (backslash escapes undone, the closing quote
// optional), or a token as it is.
std::string unquote(std::string_view value) {
  if (value.empty() || value.front() != '"') return std::string(value);
  std::string out;
  out.reserve(value.size());
  for (std::size_t i = 1; i < value.size(); ++i) {
    const char c = value[i];
    if (c == '"') break;
    if (c == '\\' && i + 1 < value.size()) {
      out += value[++i];
      continue;
    }
    out += c;
  }
  return out;
}

std::string percentDecode(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && hexValue(s[i + 1]) >= 0 && hexValue(s[i + 2]) >= 0) {
      out += static_cast<char>(hexValue(s[i + 1]) * 16 + hexValue(s[i + 2]));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

// The parameters of a structured value as (attribute, raw value) pairs:
// split at the semicolons outside quoted strings.
struct Parameter {
  std::string_view attribute;
  std::string_view value;  // trimmed, quotes still on
};

std::vector<Parameter> splitParameters(std::string_view field) {
  std::vector<Parameter> out;
  std::size_t start = 0;
  bool quoted = false;
  for (std::size_t i = 0; i <= field.size(); ++i) {
    if (i < field.size()) {
      const char c = field[i];
      if (quoted && c == '\\') {
        ++i;
        continue;
      }
      if (c == '"') quoted = !quoted;
      if (quoted || c != ';') continue;
    }
    const std::string_view segment = field.substr(start, i - start);
    start = i + 1;
    const std::size_t eq = segment.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string_view attribute = trim(segment.substr(0, eq));
    if (attribute.empty()) continue;
    out.push_back(Parameter{attribute, trim(segment.substr(eq + 1))});
  }
  return out;
}

// Parses "name*", "name*3" and "name*3*" against `name`.
struct Section {
  bool matches = false;
  bool extended = false;   // percent-encoded, maybe with charset'language'
  std::size_t index = 0;   // continuation number; 0 for "name*"
};

Section sectionOf(std::string_view attribute, std::string_view name) {
  Section s;
  if (attribute.size() <= name.size() || !equalNoCase(attribute.substr(0, name.size()), name) ||
      attribute[name.size()] != '*')
    return s;
  std::string_view rest = attribute.substr(name.size() + 1);
  if (rest.empty()) {
    s.matches = s.extended = true;
    return s;
  }
  if (rest.back() == '*') {
    s.extended = true;
    rest.remove_suffix(1);
  }
  if (rest.empty() || rest.size() > 3) return s;
  for (char c : rest) {
    if (c < '0' || c > '9') return s;
    s.index = s.index * 10 + static_cast<std::size_t>(c - '0');
  }
  s.matches = s.index < kMaxContinuations;
  return s;
}

}  // namespace

std::string_view headerBlock(std::string_view message) {
  if (message.size() >= 3 && equalNoCase(message.substr(0, 3), "+ok")) {
    const std::size_t lf = message.find('\n');
    message = lf == std::string_view::npos ? std::string_view() : message.substr(lf + 1);
  }
  std::size_t lineStart = 0;
  while (lineStart < message.size()) {
    std::size_t lf = message.find('\n', lineStart);
    const std::size_t lineEnd = lf == std::string_view::npos ? message.size() : lf;
    std::string_view line = message.substr(lineStart, lineEnd - lineStart);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) return message.substr(0, lineStart);
    if (lf == std::string_view::npos) break;
    lineStart = lf + 1;
  }
  return message;
}

std::optional<std::string> headerValue(std::string_view header, std::string_view name) {
  std::optional<std::string> value;
  std::size_t lineStart = 0;
  while (lineStart < header.size()) {
    const std::size_t lf = header.find('\n', lineStart);
    const std::size_t lineEnd = lf == std::string_view::npos ? header.size() : lf;
    std::string_view line = header.substr(lineStart, lineEnd - lineStart);
    lineStart = lineEnd + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) break;  // the body begins
    const bool continuation = line.front() == ' ' || line.front() == '\t';
    if (value) {
      if (!continuation) break;
      value->append(line);
      continue;
    }
    if (continuation || line.size() <= name.size() || !equalNoCase(line.substr(0, name.size()), name))
      continue;
    std::size_t colon = name.size();
    while (colon < line.size() && (line[colon] == ' ' || line[colon] == '\t')) ++colon;
    if (colon >= line.size() || line[colon] != ':') continue;
    std::string_view first = line.substr(colon + 1);
    while (!first.empty() && (first.front() == ' ' || first.front() == '\t')) first.remove_prefix(1);
    value.emplace(first);
  }
  return value;
}

Text decodeHeaderValue(std::string_view value, CharsetConverter* other) {
  const std::vector<Piece> pieces = splitValue(value);
  Text out;
  out.reserve(value.size());
  // Literal text and blanks gather into one raw run, decoded at once.
  std::size_t rawBegin = std::string_view::npos, rawEnd = 0;
  const auto addRaw = [&](std::size_t begin, std::size_t end) {
    if (rawBegin == std::string_view::npos) rawBegin = begin;
    rawEnd = end;
  };
  const auto flushRaw = [&] {
    if (rawBegin == std::string_view::npos) return;
    out += rawToText(value.substr(rawBegin, rawEnd - rawBegin));
    rawBegin = std::string_view::npos;
  };
  const Piece* pendingSpace = nullptr;
  bool afterDecodedWord = false;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const Piece& p = pieces[i];
    if (p.kind == Piece::Space) {
      pendingSpace = &p;
      continue;
    }
    if (p.kind == Piece::Literal) {
      if (pendingSpace) addRaw(pendingSpace->begin, pendingSpace->end);
      pendingSpace = nullptr;
      addRaw(p.begin, p.end);
      afterDecodedWord = false;
      continue;
    }
    // Words of one charset separated only by blanks are one byte string: a
    // character may be split between them.
    std::string bytes = p.bytes;
    std::size_t last = i;
    while (last + 2 < pieces.size() && pieces[last + 1].kind == Piece::Space &&
           pieces[last + 2].kind == Piece::Word &&
           equalNoCase(pieces[last + 2].charset, p.charset)) {
      last += 2;
      bytes += pieces[last].bytes;
    }
    const std::optional<Text> text = charsetToText(bytes, p.charset, other);
    if (text) {
      // The blank between two decoded words is not part of the text.
      if (pendingSpace && !afterDecodedWord) addRaw(pendingSpace->begin, pendingSpace->end);
      flushRaw();
      out += *text;
      afterDecodedWord = true;
    } else {
      if (pendingSpace) addRaw(pendingSpace->begin, pendingSpace->end);
      addRaw(p.begin, pieces[last].end);  // as it came, blanks included
      afterDecodedWord = false;
    }
    pendingSpace = nullptr;
    i = last;
  }
  if (pendingSpace) addRaw(pendingSpace->begin, pendingSpace->end);
  flushRaw();
  controlsToSpaces(out);
  return out;
}

std::optional<Text> parameterValue(std::string_view fieldValue, std::string_view name,
                                   CharsetConverter* other) {
  std::optional<std::string_view> plain;
  std::array<std::optional<Parameter>, kMaxContinuations> sections;
  std::array<bool, kMaxContinuations> extended{};
  bool anySection = false;
  for (const Parameter& p : splitParameters(fieldValue)) {
    if (equalNoCase(p.attribute, name)) {
      if (!plain) plain = p.value;
      continue;
    }
    const Section s = sectionOf(p.attribute, name);
    if (!s.matches || sections[s.index]) continue;  // the first of a number counts
    sections[s.index] = p;
    extended[s.index] = s.extended;
    anySection = true;
  }
  if (!anySection) {
    if (!plain) return std::nullopt;
    return decodeHeaderValue(unquote(*plain), other);
  }
  // The sections in the order of their numbers, whatever the order they
  // were written in; the charset is named in the first one only.
  std::string charset;
  std::string bytes;
  std::string asCame;
  bool first = true;
  for (std::size_t k = 0; k < kMaxContinuations; ++k) {
    if (!sections[k]) continue;
    std::string raw = unquote(sections[k]->value);
    asCame += raw;
    std::string_view encoded = raw;
    if (extended[k] && first) {
      const std::size_t q1 = encoded.find('\'');
      const std::size_t q2 = q1 == std::string_view::npos ? q1 : encoded.find('\'', q1 + 1);
      if (q2 != std::string_view::npos) {
        charset = encoded.substr(0, q1);
        encoded.remove_prefix(q2 + 1);
      }
    }
    first = false;
    bytes += extended[k] ? percentDecode(encoded) : std::string(encoded);
  }
  std::optional<Text> text;
  if (charset.empty())
    text = rawToText(bytes);
  else
    text = charsetToText(bytes, charset, other);
  // An unknown charset leaves the value as it came rather than guessing.
  if (!text) text = rawToText(asCame);
  controlsToSpaces(*text);
  return text;
}

}  // namespace tarvi
