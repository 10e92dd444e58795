// The viewer's reading of a retrieved message. Everything here reads bytes
// a server (or a stranger's mail program) chose, so each routine makes one
// forward pass over its input, never searches again from the start, and
// writes no more than a small multiple of what it read:
//
//  - the POP3 unwrapping writes at most two bytes per input byte (LF -> CR LF);
//  - Base64 writes three bytes per four alphabet characters, quoted-printable
//    at most one byte per input byte;
//  - a charset conversion gives at most one UTF-16 unit per byte;
//  - htmlToText gives an entity fewer units than it is long, a tag at most
//    the line breaks of a paragraph (which only text before it calls for),
//    text at most one unit per unit: at most two units per unit read;
//  - the last pass over the body turns a lone CR or LF into CR LF.
//
// So the body is at most twice the size of the message, four times for an
// HTML body (the line breaks that the unwrapping doubled are white space
// that HTML collapses, so four is not reached in practice).
#include "monitor/mail/mime_body.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>

#include "common/cp932.h"
#include "monitor/mail/charsets.h"
#include "monitor/mail/mime_header.h"

namespace tarvi {
namespace {

// A message of thousands of parts is read; a message built to make the walk
// endless is not.
constexpr int kMaxParts = 10000;

unsigned char byteAt(std::string_view s, std::size_t i) { return static_cast<unsigned char>(s[i]); }

char lowerByte(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string lowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = lowerByte(c);
  return out;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool startsWith(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

// ---------------------------------------------------------------------------
// POP3 unwrapping

// The message inside a RETR reply with CR LF after every line: the status
// line and the closing "." line (with anything after it) dropped,
// dot-stuffing undone. Servers that end lines with a bare LF are read the
// same way.
std::string unwrapReply(std::string_view reply) {
  std::string out;
  out.reserve(reply.size() + reply.size() / 16 + 2);
  std::size_t pos = 0;
  bool first = true;
  while (pos < reply.size()) {
    std::size_t lf = reply.find('\n', pos);
    const bool terminated = lf != std::string_view::npos;
    if (!terminated) lf = reply.size();
    std::string_view line = reply.substr(pos, lf - pos);
    pos = terminated ? lf + 1 : reply.size();
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (first && startsWith(line, "+OK")) {
      first = false;
      continue;
    }
    first = false;
    if (line == ".") break;
    if (startsWith(line, "..")) line.remove_prefix(1);
    out += line;
    out += "\r\n";
  }
  return out;
}

// ---------------------------------------------------------------------------
// Charsets

bool hasHighByte(std::string_view bytes) {
  return std::any_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) != 0; });
}

bool hasJisEscape(std::string_view bytes) {
  return bytes.find("\x1b$B") != std::string_view::npos ||
         bytes.find("\x1b$@") != std::string_view::npos;
}

// What a mail program most likely meant by bytes it did not label, or
// labelled with a name nobody knows: ISO-2022-JP when they carry its
// escapes, UTF-8 when they are valid UTF-8, else the Japanese Windows code
// page (what unlabelled 8-bit Japanese mail almost always is).
Text guessText(std::string_view bytes, CharsetConverter* other) {
  if (looksLikeUtf8(bytes)) return fromUtf8(bytes);
  if (hasJisEscape(bytes)) {
    if (auto t = charsetToText(bytes, "ISO-2022-JP", other)) return *t;
  }
  if (!hasHighByte(bytes)) return fromUtf8(bytes);
  return cp932::decode(bytes);
}

Text bytesToText(std::string_view bytes, std::string_view charset, CharsetConverter* other) {
  const std::string name = lowerAscii(trim(charset));
  if (name.empty()) return guessText(bytes, other);
  // 7-bit labels on 8-bit bytes: the label is wrong, not the bytes.
  const bool sevenBit = name == "iso-2022-jp" || name == "us-ascii" || name == "ascii";
  if (sevenBit && hasHighByte(bytes)) {
    if (looksLikeUtf8(bytes)) return fromUtf8(bytes);
    if (!hasJisEscape(bytes)) return cp932::decode(bytes);
  }
  if (auto t = charsetToText(bytes, name, other)) return *t;
  return guessText(bytes, other);
}

// ---------------------------------------------------------------------------
// The MIME walk

struct Leaf {
  std::string type;         // "text/plain", lower case
  std::string disposition;  // "attachment", "inline" or empty
  std::string charset;
  std::string encoding;     // Content-Transfer-Encoding, lower case
  std::string_view header;
  std::string_view body;
  Text name;                // file name, empty when there is none
};

struct Walk {
  CharsetConverter* other;
  std::vector<Leaf> leaves;
  int parts = 0;
};

// Splits a part into its header and its body at the first empty line. A
// part whose first line is no header field (mail programs that leave out
// the empty line) is all body.
void splitPart(std::string_view part, std::string_view& header, std::string_view& body) {
  std::size_t nameEnd = 0;
  while (nameEnd < part.size() && byteAt(part, nameEnd) > 0x20 && byteAt(part, nameEnd) < 0x7F &&
         part[nameEnd] != ':')
    ++nameEnd;
  const bool fieldFirst = nameEnd > 0 && nameEnd < part.size() && part[nameEnd] == ':';
  if (!fieldFirst) {
    header = {};
    // An empty first line still separates an empty header.
    body = startsWith(part, "\r\n") ? part.substr(2) : part;
    return;
  }
  const std::size_t blank = part.find("\r\n\r\n");
  if (blank == std::string_view::npos) {
    header = part;
    body = {};
    return;
  }
  header = part.substr(0, blank + 2);
  body = part.substr(blank + 4);
}

std::string field(std::string_view header, std::string_view name) {
  if (header.empty()) return {};
  return headerValue(header, name).value_or(std::string());
}

// The first token of a structured value ("text/plain" of
// "text/plain; charset=...") in lower case.
std::string leadingToken(std::string_view value) {
  const std::size_t semi = value.find(';');
  return lowerAscii(trim(value.substr(0, semi)));
}

std::string paramBytes(std::string_view value, std::string_view name, CharsetConverter* other) {
  if (value.empty()) return {};
  const auto p = parameterValue(value, name, other);
  return p ? toUtf8(*p) : std::string();
}

Text cleanName(Text name) {
  for (char16_t& c : name)
    if (c < 0x20 || c == 0x7F) c = u' ';
  const std::size_t b = name.find_first_not_of(u' ');
  if (b == Text::npos) return {};
  return name.substr(b, name.find_last_not_of(u' ') + 1 - b);
}

// One boundary line of a multipart body: "--boundary" or the closing
// "--boundary--", white space allowed after either. 0: not one, 1: a
// delimiter, 2: the closing delimiter.
int boundaryKind(std::string_view line, std::string_view boundary) {
  if (line.size() < boundary.size() + 2 || line[0] != '-' || line[1] != '-' ||
      line.compare(2, boundary.size(), boundary) != 0)
    return 0;
  std::string_view rest = line.substr(boundary.size() + 2);
  int kind = 1;
  if (startsWith(rest, "--")) {
    kind = 2;
    rest.remove_prefix(2);
  }
  return trim(rest).empty() ? kind : 0;
}

void walkPart(Walk& w, std::string_view part, int depth, bool digestChild);

// The parts between the delimiters, each walked in turn. The preamble and
// epilogue are not parts; a missing closing delimiter ends the last part at
// the end of the message. One pass over the lines: a line is compared with
// the boundary only as far as the line is long.
void walkMultipart(Walk& w, std::string_view body, std::string_view boundary, int depth,
                   bool digest) {
  std::size_t pos = 0;
  std::size_t partStart = std::string_view::npos;
  while (pos < body.size()) {
    std::size_t eol = body.find("\r\n", pos);
    const std::size_t next = eol == std::string_view::npos ? body.size() : eol + 2;
    if (eol == std::string_view::npos) eol = body.size();
    const int kind = body[pos] == '-' ? boundaryKind(body.substr(pos, eol - pos), boundary) : 0;
    if (kind != 0) {
      if (partStart != std::string_view::npos) {
        // The line break before a delimiter belongs to the delimiter.
        const std::size_t end = pos >= partStart + 2 ? pos - 2 : partStart;
        walkPart(w, body.substr(partStart, end - partStart), depth + 1, digest);
        if (w.parts >= kMaxParts) return;
      }
      if (kind == 2) return;
      partStart = next;
    }
    pos = next;
  }
  if (partStart != std::string_view::npos && partStart <= body.size())
    walkPart(w, body.substr(partStart), depth + 1, digest);
}

void walkPart(Walk& w, std::string_view part, int depth, bool digestChild) {
  if (w.parts >= kMaxParts) return;
  ++w.parts;
  Leaf leaf;
  splitPart(part, leaf.header, leaf.body);
  const std::string contentType = field(leaf.header, "Content-Type");
  leaf.type = leadingToken(contentType);
  // No type, or one that is no type at all: plain text, or in a digest an
  // enclosed message.
  if (leaf.type.find('/') == std::string::npos)
    leaf.type = digestChild && contentType.empty() ? "message/rfc822" : "text/plain";

  if (startsWith(leaf.type, "multipart/") && depth < kMaxMimeDepth) {
    const std::string boundary = paramBytes(contentType, "boundary", w.other);
    if (!boundary.empty()) {
      walkMultipart(w, leaf.body, boundary, depth, leaf.type == "multipart/digest");
      return;
    }
    // A multipart without a boundary cannot be split; showing its bytes
    // beats showing nothing.
    leaf.type = "text/plain";
  }

  const std::string disposition = field(leaf.header, "Content-Disposition");
  leaf.disposition = leadingToken(disposition);
  leaf.charset = paramBytes(contentType, "charset", w.other);
  leaf.encoding = lowerAscii(trim(field(leaf.header, "Content-Transfer-Encoding")));
  if (!disposition.empty()) {
    if (auto n = parameterValue(disposition, "filename", w.other)) leaf.name = cleanName(*n);
  }
  if (leaf.name.empty() && !contentType.empty()) {
    if (auto n = parameterValue(contentType, "name", w.other)) leaf.name = cleanName(*n);
  }
  w.leaves.push_back(std::move(leaf));
}

std::string transferDecode(const Leaf& leaf) {
  if (leaf.encoding == "base64") return decodeBase64(leaf.body);
  if (leaf.encoding == "quoted-printable") return decodeQuotedPrintable(leaf.body);
  return std::string(leaf.body);
}

// CR LF after every line whatever the part used (decoded Base64 may hold
// bare LFs), no NUL (it would cut the text short in a Windows control), no
// line breaks at the end.
Text finishBody(const Text& text) {
  Text out;
  out.reserve(text.size() + text.size() / 16);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'\r') {
      out += u"\r\n";
      if (i + 1 < text.size() && text[i + 1] == u'\n') ++i;
    } else if (c == u'\n') {
      out += u"\r\n";
    } else if (c != 0) {
      out += c;
    }
  }
  while (out.size() >= 2 && out[out.size() - 2] == u'\r' && out.back() == u'\n') out.resize(out.size() - 2);
  return out;
}

Text attachmentName(const Leaf& leaf, CharsetConverter* other) {
  if (!leaf.name.empty()) return leaf.name;
  if (leaf.type == "message/rfc822") {
    // An enclosed message is known by its subject.
    std::string_view header, body;
    splitPart(leaf.body, header, body);
    if (auto s = headerValue(header, "Subject")) {
      Text subject = cleanName(decodeHeaderValue(*s, other));
      if (!subject.empty()) return subject;
    }
  }
  return ascii(leaf.type);
}

// ---------------------------------------------------------------------------
// HTML

bool isSpace16(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\f'; }

bool isAsciiLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

bool isAsciiAlnum(char16_t c) { return isAsciiLetter(c) || (c >= u'0' && c <= u'9'); }

std::string lowerName(TextView name) {
  std::string out;
  out.reserve(name.size());
  for (char16_t c : name) out += static_cast<char>(asciiLower(c) < 0x80 ? asciiLower(c) : '?');
  return out;
}

// Where a needle next occurs at or after a position, remembered, so that a
// document which opens a thousand comments and closes none is searched once,
// not a thousand times.
class ForwardFind {
 public:
  explicit ForwardFind(TextView needle) : needle_(needle) {}
  std::size_t from(TextView hay, std::size_t pos) {
    // npos, once found, is at or after every position.
    if (searched_ && found_ >= pos) return found_;
    found_ = findNoCase(hay, needle_, pos);
    searched_ = true;
    return found_;
  }

 private:
  TextView needle_;
  std::size_t found_ = Text::npos;
  bool searched_ = false;
};

struct Entity {
  std::string_view name;
  char16_t c;
};

constexpr Entity kEntities[] = {
    {"amp", u'&'},      {"lt", u'<'},       {"gt", u'>'},       {"quot", u'"'},
    {"apos", u'\''},    {"nbsp", u'\u00A0'}, {"copy", u'\u00A9'}, {"reg", u'\u00AE'},
    {"yen", u'\u00A5'}, {"hellip", u'\u2026'}, {"mdash", u'\u2014'}, {"ndash", u'\u2013'},
    {"rsquo", u'\u2019'}, {"lsquo", u'\u2018'}, {"ldquo", u'\u201C'}, {"rdquo", u'\u201D'},
    {"trade", u'\u2122'}, {"middot", u'\u00B7'}, {"bull", u'\u2022'}, {"times", u'\u00D7'},
    {"laquo", u'\u00AB'}, {"raquo", u'\u00BB'}, {"deg", u'\u00B0'},  {"shy", u'\u00AD'},
};

// The entity at text[pos] ('&'): its characters and its length, or nothing
// when it is none (the '&' is then a plain character). A reference is at
// most a few dozen units long, so the look ahead is bounded; what it gives
// is never longer than the reference.
bool readEntity(TextView text, std::size_t pos, Text& out, std::size_t& length) {
  std::size_t i = pos + 1;
  if (i < text.size() && text[i] == u'#') {
    ++i;
    const bool hex = i < text.size() && (text[i] == u'x' || text[i] == u'X');
    if (hex) ++i;
    const std::size_t digitsStart = i;
    std::uint32_t value = 0;
    while (i < text.size() && i - digitsStart < 16) {
      const char16_t c = text[i];
      int d = -1;
      if (c >= u'0' && c <= u'9') d = c - u'0';
      else if (hex && c >= u'a' && c <= u'f') d = c - u'a' + 10;
      else if (hex && c >= u'A' && c <= u'F') d = c - u'A' + 10;
      if (d < 0) break;
      value = std::min<std::uint32_t>(value * (hex ? 16 : 10) + static_cast<std::uint32_t>(d), 0x110000);
      ++i;
    }
    if (i == digitsStart) return false;
    if (i < text.size() && text[i] == u';') ++i;
    length = i - pos;
    if (value == 0 || value >= 0x110000 || (value >= 0xD800 && value <= 0xDFFF)) {
      out = u"\uFFFD";
    } else if (value >= 0x10000) {
      value -= 0x10000;
      out = {static_cast<char16_t>(0xD800 + (value >> 10)), static_cast<char16_t>(0xDC00 + (value & 0x3FF))};
    } else {
      out = Text(1, static_cast<char16_t>(value));
    }
    return true;
  }
  while (i < text.size() && i - pos <= 8 && isAsciiAlnum(text[i])) ++i;
  if (i >= text.size() || text[i] != u';') return false;
  const std::string name = lowerName(text.substr(pos + 1, i - pos - 1));
  for (const Entity& e : kEntities) {
    // Named references are case sensitive in HTML, but mail programs write
    // "&NBSP;" and "&Amp;" often enough to be forgiven.
    if (e.name == name) {
      out = Text(1, e.c);
      length = i + 1 - pos;
      return true;
    }
  }
  return false;
}

Text decodeEntities(TextView text) {
  Text out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    Text piece;
    std::size_t length = 0;
    if (text[i] == u'&' && readEntity(text, i, piece, length)) {
      out += piece;
      i += length;
    } else {
      out += text[i++];
    }
  }
  return out;
}

// The tag between '<' and '>': its name in lower case, whether it closes,
// and its attributes (unparsed).
struct Tag {
  std::string name;
  bool closing = false;
  TextView attributes;
};

Tag parseTag(TextView inner) {
  Tag tag;
  std::size_t i = 0;
  if (i < inner.size() && inner[i] == u'/') {
    tag.closing = true;
    ++i;
  }
  const std::size_t nameStart = i;
  while (i < inner.size() && !isSpace16(inner[i]) && inner[i] != u'/' && i - nameStart < 16) ++i;
  tag.name = lowerName(inner.substr(nameStart, i - nameStart));
  tag.attributes = inner.substr(i);
  return tag;
}

// The value of one attribute in a tag's attribute text, entities decoded.
std::optional<Text> attribute(TextView attrs, std::string_view wanted) {
  std::size_t i = 0;
  while (i < attrs.size()) {
    while (i < attrs.size() && (isSpace16(attrs[i]) || attrs[i] == u'/')) ++i;
    const std::size_t nameStart = i;
    while (i < attrs.size() && !isSpace16(attrs[i]) && attrs[i] != u'=' && attrs[i] != u'/') ++i;
    const std::string name = lowerName(attrs.substr(nameStart, std::min<std::size_t>(i - nameStart, 32)));
    while (i < attrs.size() && isSpace16(attrs[i])) ++i;
    if (i >= attrs.size() || attrs[i] != u'=') {
      if (i == nameStart) ++i;
      continue;
    }
    ++i;
    while (i < attrs.size() && isSpace16(attrs[i])) ++i;
    std::size_t valueStart = i, valueEnd;
    if (i < attrs.size() && (attrs[i] == u'"' || attrs[i] == u'\'')) {
      const char16_t q = attrs[i];
      valueStart = ++i;
      while (i < attrs.size() && attrs[i] != q) ++i;
      valueEnd = i;
      if (i < attrs.size()) ++i;
    } else {
      while (i < attrs.size() && !isSpace16(attrs[i])) ++i;
      valueEnd = i;
    }
    if (name == wanted) return decodeEntities(attrs.substr(valueStart, valueEnd - valueStart));
  }
  return std::nullopt;
}

// Builds the plain text: white space collapsed as a browser would, line
// breaks made by the block elements, at most two empty lines in a row.
class TextWriter {
 public:
  explicit TextWriter(std::size_t reserve) { out_.reserve(reserve); }

  void space() { pendingSpace_ = true; }

  void text(char16_t c) {
    if (pendingSpace_ && !atLineStart()) out_ += u' ';
    pendingSpace_ = false;
    out_ += c;
    breaks_ = 0;
  }
  void text(TextView t) {
    for (char16_t c : t) text(c);
  }
  // Kept as it stands (preformatted text).
  void literal(char16_t c) {
    if (c == u'\n') {
      lineBreak();
      return;
    }
    if (pendingSpace_ && !atLineStart()) out_ += u' ';
    pendingSpace_ = false;
    out_ += c;
    breaks_ = 0;
  }

  void lineBreak() {
    pendingSpace_ = false;
    if (out_.empty() || breaks_ >= 3) return;
    out_ += u"\r\n";
    ++breaks_;
  }
  // The next text starts a line of its own.
  void newLine() {
    if (breaks_ == 0) lineBreak();
    pendingSpace_ = false;
  }
  // The next text starts after an empty line.
  void paragraph() {
    newLine();
    if (breaks_ == 1) lineBreak();
  }

  std::size_t size() const { return out_.size(); }
  TextView since(std::size_t pos) const { return TextView(out_).substr(pos); }

  Text finish() {
    while (!out_.empty() && (out_.back() == u'\r' || out_.back() == u'\n' || out_.back() == u' '))
      out_.pop_back();
    return std::move(out_);
  }

 private:
  bool atLineStart() const { return out_.empty() || breaks_ > 0; }

  Text out_;
  int breaks_ = 0;  // line breaks at the end of out_
  bool pendingSpace_ = false;
};

bool oneOf(const std::string& name, std::initializer_list<std::string_view> names) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

bool isHeading(const std::string& name) {
  return name.size() == 2 && name[0] == 'h' && name[1] >= '1' && name[1] <= '6';
}

}  // namespace

// ---------------------------------------------------------------------------

std::string decodeBase64(std::string_view encoded) {
  static constexpr auto kValues = [] {
    std::array<signed char, 256> v{};
    v.fill(-1);
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int i = 0; i < 64; ++i) v[static_cast<unsigned char>(alphabet[i])] = static_cast<signed char>(i);
    return v;
  }();
  // Three bytes per four characters: never longer than the input.
  std::string out;
  out.reserve(encoded.size() / 4 * 3 + 3);
  std::uint32_t bits = 0;
  int count = 0;
  for (char c : encoded) {
    if (c == '=') break;
    const int v = kValues[static_cast<unsigned char>(c)];
    if (v < 0) continue;
    bits = (bits << 6 | static_cast<std::uint32_t>(v)) & 0xFFFFFF;
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return out;
}

std::string decodeQuotedPrintable(std::string_view encoded) {
  auto hexValue = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  // Every escape and soft line break shrinks; other bytes are copied.
  std::string out;
  out.reserve(encoded.size());
  std::size_t i = 0;
  while (i < encoded.size()) {
    const char c = encoded[i];
    if (c != '=') {
      out += c;
      ++i;
      continue;
    }
    if (i + 2 < encoded.size() && hexValue(encoded[i + 1]) >= 0 && hexValue(encoded[i + 2]) >= 0) {
      out += static_cast<char>(hexValue(encoded[i + 1]) * 16 + hexValue(encoded[i + 2]));
      i += 3;
      continue;
    }
    // A soft line break, perhaps with white space an encoder left before it.
    // The white space looked at here is not looked at again by another '='.
    std::size_t j = i + 1;
    while (j < encoded.size() && (encoded[j] == ' ' || encoded[j] == '\t')) ++j;
    if (j < encoded.size() && encoded[j] == '\r' && j + 1 < encoded.size() && encoded[j + 1] == '\n') {
      i = j + 2;
    } else if (j < encoded.size() && encoded[j] == '\n') {
      i = j + 1;
    } else if (j == encoded.size()) {
      // A soft break whose line end went with the part's last line break
      // (it belongs to the boundary delimiter that follows).
      i = j;
    } else {
      out += c;  // malformed: kept as it came
      ++i;
    }
  }
  return out;
}

Text htmlToText(const Text& html) {
  const TextView h(html);
  TextWriter w(html.size());
  ForwardFind commentEnd(u"-->"), cdataEnd(u"]]>"), scriptEnd(u"</script"), styleEnd(u"</style"),
      titleEnd(u"</title"), headEnd(u"</head"), bodyOpen(u"<body");
  // Where each quote and '>' last occurs: a tag whose quote never closes, or
  // that no '>' closes, is found out without scanning to the end again.
  const std::size_t lastGt = h.rfind(u'>');
  const std::size_t lastDq = h.rfind(u'"');
  const std::size_t lastSq = h.rfind(u'\'');
  bool quotesCount = true;
  bool inHead = false;
  int preDepth = 0;
  std::optional<Text> href;
  std::size_t linkStart = 0;

  std::size_t i = 0;
  while (i < h.size()) {
    const char16_t c = h[i];
    if (c == u'<' && i + 1 < h.size()) {
      const char16_t n = h[i + 1];
      if (n == u'!') {
        if (h.substr(i, 4) == u"<!--") {
          const std::size_t end = commentEnd.from(h, i + 4);
          if (end != Text::npos) {
            i = end + 3;
            continue;
          }
          // Never closed: it ends at the next '>', as a bogus comment would.
        } else if (h.substr(i, 9) == u"<![CDATA[") {
          const std::size_t end = cdataEnd.from(h, i + 9);
          const std::size_t stop = end == Text::npos ? h.size() : end;
          for (std::size_t k = i + 9; k < stop; ++k) {
            if (isSpace16(h[k])) w.space();
            else if (!inHead) w.text(h[k]);
          }
          i = end == Text::npos ? h.size() : end + 3;
          continue;
        }
        // <!DOCTYPE ...> and the like, up to the next '>'; with none left,
        // the '<' is a plain character.
        if (lastGt != Text::npos && lastGt > i) {
          i = h.find(u'>', i + 2) + 1;
          continue;
        }
      }
      const bool tagStart = isAsciiLetter(n) || (n == u'/' && i + 2 < h.size() && isAsciiLetter(h[i + 2]));
      if (tagStart && lastGt != Text::npos && lastGt > i) {
        // The tag runs to the first '>' outside quotes; a quote that never
        // closes is taken as a plain character.
        std::size_t j = i + 1;
        while (quotesCount && j < h.size() && h[j] != u'>') {
          if ((h[j] == u'"' && j != lastDq) || (h[j] == u'\'' && j != lastSq)) {
            if (h[j - 1] == u'=' || isSpace16(h[j - 1]))
              j = h.find(h[j], j + 1);  // a later one exists: this is not the last
          }
          ++j;
        }
        if (j >= h.size() || !quotesCount) {
          // Quotes paired up across every '>' to the end: not worth believing.
          // Later tags end at their first '>', so that this is scanned once.
          if (j >= h.size()) quotesCount = false;
          j = h.find(u'>', i + 1);
        }
        const Tag tag = parseTag(h.substr(i + 1, j - i - 1));
        i = j + 1;
        const std::string& t = tag.name;

        if (!tag.closing && (t == "script" || t == "style" || t == "title")) {
          ForwardFind& end = t == "script" ? scriptEnd : t == "style" ? styleEnd : titleEnd;
          const std::size_t at = end.from(h, i);
          if (at != Text::npos) {
            const std::size_t gt = at <= lastGt ? h.find(u'>', at) : Text::npos;
            i = gt == Text::npos ? h.size() : gt + 1;
          }
          // Never closed: read on as ordinary markup rather than lose the rest.
          continue;
        }
        if (t == "head") {
          if (tag.closing) {
            inHead = false;
          } else {
            // Only a head that ends somewhere hides its contents.
            const std::size_t e1 = headEnd.from(h, i), e2 = bodyOpen.from(h, i);
            inHead = e1 != Text::npos || e2 != Text::npos;
          }
          continue;
        }
        if (t == "body") {
          inHead = false;
          continue;
        }
        if (inHead) continue;

        if (t == "br") {
          w.lineBreak();
        } else if (t == "p" || isHeading(t) || t == "blockquote" || t == "table" || t == "ul" ||
                   t == "ol" || t == "dl") {
          w.paragraph();
        } else if (oneOf(t, {"div", "tr", "section", "article", "header", "footer", "center", "dt",
                             "dd", "address", "form", "caption", "tbody", "thead", "tfoot"})) {
          w.newLine();
        } else if (t == "hr") {
          w.newLine();
        } else if (t == "li") {
          w.newLine();
          if (!tag.closing) w.text(u"・");
        } else if (t == "td" || t == "th") {
          w.space();
        } else if (t == "pre") {
          w.newLine();
          preDepth = tag.closing ? std::max(0, preDepth - 1) : std::min(preDepth + 1, 64);
        } else if (t == "a") {
          if (!tag.closing) {
            href = attribute(tag.attributes, "href");
            linkStart = w.size();
          } else if (href) {
            // A plain-text viewer cannot follow a link; its address is shown
            // after the words that stood for it, unless the words are the
            // address. The address came from the tag, so this is no longer
            // than the tag was.
            const TextView words = w.since(linkStart);
            const bool web = findNoCase(*href, u"http://") == 0 || findNoCase(*href, u"https://") == 0;
            if (web && !words.empty() && words != TextView(*href)) {
              w.text(u" (");
              w.text(*href);
              w.text(u')');
            }
            href.reset();
          }
        } else if (t == "img" && !tag.closing) {
          // Nothing: images in newsletters are decoration, and their alt
          // texts would drown the words.
        }
        continue;
      }
      // Not a tag ("a < b", or one no '>' closes): a plain character.
    }

    if (inHead) {
      ++i;
      continue;
    }
    if (c == u'&') {
      Text piece;
      std::size_t length = 0;
      if (readEntity(h, i, piece, length)) {
        // A no-break space is a space that white space around it does not
        // swallow: written as a character, not as collapsible space.
        for (char16_t p : piece) w.text(p == u'\u00A0' ? u' ' : p);
        i += length;
        continue;
      }
    }
    if (preDepth > 0) {
      if (c == u'\r') {
        w.literal(u'\n');
        if (i + 1 < h.size() && h[i + 1] == u'\n') ++i;
      } else {
        w.literal(c == u'\t' ? u' ' : c);
      }
    } else if (isSpace16(c)) {
      w.space();
    } else {
      w.text(c);
    }
    ++i;
  }
  return w.finish();
}

ReadableMessage readMessage(std::string_view message, CharsetConverter* other) {
  return readBareMessage(unwrapReply(message), other);
}

ReadableMessage readBareMessage(std::string_view unwrapped, CharsetConverter* other) {
  Walk w{other, {}, 0};
  walkPart(w, unwrapped, 0, false);

  const Leaf* body = nullptr;
  for (const char* wanted : {"text/plain", "text/html"}) {
    for (const Leaf& leaf : w.leaves) {
      if (leaf.type == wanted && leaf.disposition != "attachment") {
        body = &leaf;
        break;
      }
    }
    if (body) break;
  }

  ReadableMessage result;
  if (body) {
    Text text = bytesToText(transferDecode(*body), body->charset, other);
    if (body->type == "text/html") text = htmlToText(text);
    result.body = finishBody(text);
  }
  for (const Leaf& leaf : w.leaves) {
    if (&leaf == body) continue;
    const bool attached = leaf.disposition == "attachment" || !leaf.name.empty() ||
                          leaf.type == "message/rfc822";
    if (attached) result.attachments.push_back(attachmentName(leaf, other));
  }
  return result;
}

}  // namespace tarvi
