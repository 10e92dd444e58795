#include "common/imap_response.h"

#include <algorithm>
#include <cstring>

#include "common/base64.h"

namespace tarvi::imap {

namespace {

// Deeper lists than any server sends (a BODYSTRUCTURE nests a few levels per
// MIME level); a limit keeps a hostile one from exhausting the stack.
constexpr int kMaxListDepth = 64;
// Values in one response at most: "(()()()...)" would otherwise make some
// thirty times its size in memory. A SEARCH of half a million UIDs still
// fits, which is many times what a mail list holds.
constexpr std::size_t kMaxValues = 500000;
// Enough for any 32-bit number; a longer literal count is no count of ours.
constexpr std::size_t kMaxCountDigits = 10;

bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }

char asciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool equalsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (asciiUpper(a[i]) != asciiUpper(b[i])) return false;
  return true;
}

std::string upperCased(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = asciiUpper(c);
  return out;
}

// What an atom may hold. Servers put flags (\Seen, \*), wildcards, ']' and
// raw 8-bit mailbox names in atoms, so only what ends an atom or starts
// another value is left out.
bool isAtomByte(unsigned char c) {
  return c > 0x20 && c != 0x7F && c != '(' && c != ')' && c != '{' && c != '"';
}

bool isTagByte(unsigned char c) {
  return isAtomByte(c) && c < 0x80 && c != '+' && c != '*' && c != '%' && c != '\\' && c != '[';
}

bool isStatusName(std::string_view name) {
  return name == "OK" || name == "NO" || name == "BAD" || name == "BYE" || name == "PREAUTH";
}

// Parses one whole response, as framed by the reader: it ends in its line
// end, and every line end before that follows a literal's count.
class Parser {
 public:
  explicit Parser(std::string_view r) : r_(r) {}

  bool parse(Response& out) {
    if (r_[0] == '+') {
      out.kind = Response::Kind::Continuation;
      i_ = 1;
      if (atLineEnd()) return restOfLine(out.text);
      if (r_[1] != ' ') return false;  // "+OK": a POP3 server, not a continuation
      i_ = 2;
      return restOfLine(out.text);
    }
    if (r_[0] == '*') {
      out.kind = Response::Kind::Untagged;
      i_ = 1;
      if (!space()) return false;
      if (i_ < r_.size() && isDigit(static_cast<unsigned char>(r_[i_]))) {
        std::uint64_t n = 0;
        const std::size_t from = i_;
        while (i_ < r_.size() && isDigit(static_cast<unsigned char>(r_[i_])) && i_ - from < kMaxCountDigits)
          n = n * 10 + static_cast<unsigned>(r_[i_++] - '0');
        if (n > UINT32_MAX || !space()) return false;
        out.number = static_cast<std::uint32_t>(n);
      }
    } else {
      out.kind = Response::Kind::Tagged;
      while (i_ < r_.size() && isTagByte(static_cast<unsigned char>(r_[i_]))) ++i_;
      out.tag = std::string(r_.substr(0, i_));
      if (out.tag.empty() || !space()) return false;
    }
    const std::size_t from = i_;
    while (i_ < r_.size() && isAtomByte(static_cast<unsigned char>(r_[i_])) && r_[i_] != '[') ++i_;
    out.name = upperCased(r_.substr(from, i_ - from));
    if (out.name.empty()) return false;
    if (out.isStatus()) return !out.number && statusRest(out);
    return out.kind == Response::Kind::Untagged && values(out.values);
  }

 private:
  bool space() {
    if (i_ >= r_.size() || r_[i_] != ' ') return false;
    ++i_;
    return true;
  }

  bool atLineEnd() const {
    return i_ < r_.size() && (r_[i_] == '\n' || (r_[i_] == '\r' && i_ + 1 < r_.size() && r_[i_ + 1] == '\n'));
  }

  void skipLineEnd() { i_ += r_[i_] == '\r' ? 2 : 1; }

  // The rest of the line, which must be the response's last.
  bool restOfLine(std::string& into) {
    const std::size_t lf = r_.find('\n', i_);
    std::size_t end = lf;
    if (end > i_ && r_[end - 1] == '\r') --end;
    into = std::string(r_.substr(i_, end - i_));
    i_ = lf + 1;
    return i_ == r_.size();
  }

  // An optional [code], then free text that is not parsed: it may hold
  // unbalanced quotes or parentheses. RFC 9051 lets the text be missing,
  // and servers drop its space too.
  bool statusRest(Response& out) {
    if (atLineEnd()) return restOfLine(out.text);
    if (r_[i_] != '[' && !space()) return false;
    if (i_ < r_.size() && r_[i_] == '[') {
      const std::size_t from = i_ + 1;
      if (!section()) return false;
      out.code = std::string(r_.substr(from, i_ - 1 - from));
      if (i_ < r_.size() && r_[i_] == ' ') ++i_;
    }
    return restOfLine(out.text);
  }

  // Values up to the response's end. Spaces between values are optional,
  // as in a multipart BODYSTRUCTURE: "((...)(...) "MIXED")".
  bool values(std::vector<Value>& into) {
    for (;;) {
      while (i_ < r_.size() && r_[i_] == ' ') ++i_;
      if (atLineEnd()) {
        skipLineEnd();
        return i_ == r_.size();
      }
      if (++count_ > kMaxValues) return false;
      into.emplace_back();
      if (!value(into.back(), 0)) return false;
    }
  }

  bool value(Value& v, int depth) {
    if (i_ >= r_.size()) return false;
    const unsigned char c = static_cast<unsigned char>(r_[i_]);
    if (c == '(') {
      if (depth >= kMaxListDepth) return false;
      v.kind = Value::Kind::List;
      ++i_;
      for (;;) {
        while (i_ < r_.size() && r_[i_] == ' ') ++i_;
        if (i_ < r_.size() && r_[i_] == ')') {
          ++i_;
          return true;
        }
        if (++count_ > kMaxValues) return false;
        v.items.emplace_back();
        if (!value(v.items.back(), depth + 1)) return false;
      }
    }
    if (c == '"') {
      v.kind = Value::Kind::String;
      return quotedString(v.text);
    }
    if (c == '~' && i_ + 1 < r_.size() && r_[i_ + 1] == '{') ++i_;  // a literal8 (RFC 3516 BINARY)
    if (r_[i_] == '{') {
      v.kind = Value::Kind::String;
      return literal(v.text);
    }
    if (!isAtomByte(c)) return false;
    if (!atom(v.text)) return false;
    if (equalsNoCase(v.text, "NIL")) {
      v.kind = Value::Kind::Nil;
      v.text.clear();
    }
    return true;
  }

  // Escapes other than \" and \\ are kept as they came. 8-bit bytes and NUL
  // are tolerated; a line end is not.
  bool quotedString(std::string& into) {
    ++i_;
    while (i_ < r_.size()) {
      const char c = r_[i_++];
      if (c == '"') return true;
      if (c == '\r' || c == '\n') return false;
      if (c == '\\') {
        if (i_ >= r_.size() || r_[i_] == '\r' || r_[i_] == '\n') return false;
        const char d = r_[i_++];
        if (d != '"' && d != '\\') into += '\\';
        into += d;
      } else {
        into += c;
      }
    }
    return false;
  }

  bool literal(std::string& into) {
    ++i_;
    std::uint64_t n = 0;
    const std::size_t from = i_;
    while (i_ < r_.size() && isDigit(static_cast<unsigned char>(r_[i_])) && i_ - from < kMaxCountDigits)
      n = n * 10 + static_cast<unsigned>(r_[i_++] - '0');
    if (i_ == from) return false;
    if (i_ < r_.size() && r_[i_] == '+') ++i_;
    if (i_ >= r_.size() || r_[i_] != '}') return false;
    ++i_;
    if (!atLineEnd()) return false;
    skipLineEnd();
    if (n > r_.size() - i_) return false;
    into = std::string(r_.substr(i_, static_cast<std::size_t>(n)));
    i_ += static_cast<std::size_t>(n);
    return true;
  }

  // An atom, with its [section]s whole: "BODY[HEADER.FIELDS (FROM)]<0>".
  bool atom(std::string& into) {
    const std::size_t from = i_;
    while (i_ < r_.size()) {
      const unsigned char c = static_cast<unsigned char>(r_[i_]);
      if (c == '[') {
        if (!section()) return false;
      } else if (isAtomByte(c)) {
        ++i_;
      } else {
        break;
      }
    }
    into = std::string(r_.substr(from, i_ - from));
    return true;
  }

  // From '[' to its matching ']', on one line; quoted strings inside may
  // hold brackets.
  bool section() {
    int depth = 0;
    while (i_ < r_.size()) {
      const char c = r_[i_++];
      if (c == '\r' || c == '\n') return false;
      if (c == '[') {
        ++depth;
      } else if (c == ']') {
        if (--depth == 0) return true;
      } else if (c == '"') {
        std::string ignored;
        --i_;
        if (!quotedString(ignored)) return false;
      }
    }
    return false;
  }

  std::string_view r_;
  std::size_t i_ = 0;
  std::size_t count_ = 0;  // values made so far
};

// A FETCH item's name as matched: a section item up to its ']', its
// ".PEEK" dropped (the server answers BODY.PEEK[...] with BODY[...]).
std::string itemKey(std::string_view name) {
  const std::size_t open = name.find('[');
  if (open == std::string_view::npos) return std::string(name);
  std::string_view head = name.substr(0, open);
  if (head.size() >= 5 && equalsNoCase(head.substr(head.size() - 5), ".PEEK")) head.remove_suffix(5);
  const std::size_t close = name.rfind(']');
  const std::string_view section =
      close == std::string_view::npos || close < open ? name.substr(open) : name.substr(open, close + 1 - open);
  return std::string(head) + std::string(section);
}

}  // namespace

bool Value::isAtom(std::string_view name) const { return kind == Kind::Atom && equalsNoCase(text, name); }

std::optional<std::uint32_t> Value::number() const {
  if (kind != Kind::Atom || text.empty() || text.size() > kMaxCountDigits) return std::nullopt;
  std::uint64_t n = 0;
  for (const char c : text) {
    if (!isDigit(static_cast<unsigned char>(c))) return std::nullopt;
    n = n * 10 + static_cast<unsigned>(c - '0');
  }
  if (n > UINT32_MAX) return std::nullopt;
  return static_cast<std::uint32_t>(n);
}

bool Response::isStatus() const { return kind != Kind::Continuation && isStatusName(name); }

Reader::Reader(std::size_t maxResponseBytes, std::size_t maxLiteralBytes)
    : maxResponse_(maxResponseBytes), maxLiteral_(maxLiteralBytes) {}

void Reader::feed(std::string_view bytes) {
  if (final_ != Status::NeedMore) return;  // nothing more is read
  // Moving the pending bytes to the front only once those given out are
  // as many keeps the cost linear however the responses are cut.
  if (start_ > 0 && start_ >= buf_.size() - start_) {
    buf_.erase(0, start_);
    lineStart_ -= start_;
    scan_ -= start_;
    if (inLiteral_) literalEnd_ -= start_;
    start_ = 0;
    if (buf_.capacity() > (1u << 20) && buf_.size() < buf_.capacity() / 4) buf_.shrink_to_fit();
  }
  buf_.append(bytes);
}

Reader::Status Reader::frame() {
  for (;;) {
    if (inLiteral_) {
      if (buf_.size() < literalEnd_) return Status::NeedMore;
      inLiteral_ = false;
      lineStart_ = scan_ = literalEnd_;
    }
    const void* found = std::memchr(buf_.data() + scan_, '\n', buf_.size() - scan_);
    if (found == nullptr) {
      scan_ = buf_.size();
      return scan_ - start_ > maxResponse_ ? Status::TooLarge : Status::NeedMore;
    }
    const std::size_t lf = static_cast<std::size_t>(static_cast<const char*>(found) - buf_.data());
    const std::size_t next = lf + 1;
    if (next - start_ > maxResponse_) return Status::TooLarge;
    std::size_t end = lf;
    if (end > lineStart_ && buf_[end - 1] == '\r') --end;
    if (lineStart_ == start_ && end == lineStart_) {
      // Some servers send an empty line between responses.
      start_ = lineStart_ = scan_ = next;
      continue;
    }
    // A line that ends in {N} or {N+} goes on after N bytes of literal.
    std::size_t k = end;
    if (k > lineStart_ && buf_[k - 1] == '}') {
      --k;
      if (k > lineStart_ && buf_[k - 1] == '+') --k;
      const std::size_t digitsEnd = k;
      while (k > lineStart_ && isDigit(static_cast<unsigned char>(buf_[k - 1]))) --k;
      if (k < digitsEnd && k > lineStart_ && buf_[k - 1] == '{') {
        if (digitsEnd - k > kMaxCountDigits) return Status::TooLarge;
        std::uint64_t n = 0;
        for (std::size_t d = k; d < digitsEnd; ++d) n = n * 10 + static_cast<unsigned>(buf_[d] - '0');
        if (n > maxLiteral_ || n > maxResponse_ - (next - start_)) return Status::TooLarge;
        literalEnd_ = next + static_cast<std::size_t>(n);
        inLiteral_ = true;
        continue;
      }
    }
    responseEnd_ = next;
    return Status::Ready;
  }
}

Reader::Status Reader::next(Response& out) {
  if (final_ != Status::NeedMore) return final_;
  Status s = frame();
  Response r;
  if (s == Status::Ready && !Parser(std::string_view(buf_).substr(start_, responseEnd_ - start_)).parse(r))
    s = Status::Malformed;
  if (s != Status::Ready) {
    if (s != Status::NeedMore) {
      final_ = s;
      std::string().swap(buf_);  // nothing more is read from these
    }
    return s;
  }
  out = std::move(r);
  start_ = lineStart_ = scan_ = responseEnd_;
  return Status::Ready;
}

std::optional<std::string> quoted(std::string_view s) {
  std::string out = "\"";
  for (const char c : s) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (b == '\r' || b == '\n' || b == 0 || b >= 0x80) return std::nullopt;
    if (b == '"' || b == '\\') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

std::string sequenceSet(std::vector<std::uint32_t> uids) {
  std::sort(uids.begin(), uids.end());
  uids.erase(std::unique(uids.begin(), uids.end()), uids.end());
  std::string out;
  for (std::size_t i = 0; i < uids.size();) {
    std::size_t j = i;
    while (j + 1 < uids.size() && uids[j + 1] == uids[j] + 1u) ++j;
    if (!out.empty()) out += ',';
    out += std::to_string(uids[i]);
    if (j > i) out += ':' + std::to_string(uids[j]);
    i = j + 1;
  }
  return out;
}

const Value* fetchItem(const Response& fetch, std::string_view item) {
  if (fetch.kind != Response::Kind::Untagged || fetch.name != "FETCH" || fetch.values.empty() ||
      fetch.values[0].kind != Value::Kind::List)
    return nullptr;
  const std::string key = itemKey(item);
  const std::vector<Value>& items = fetch.values[0].items;
  for (std::size_t i = 0; i + 1 < items.size(); i += 2)
    if (items[i].kind == Value::Kind::Atom && equalsNoCase(itemKey(items[i].text), key)) return &items[i + 1];
  return nullptr;
}

std::vector<std::string> capabilities(const Response& r) {
  std::vector<std::string> caps;
  if (r.kind == Response::Kind::Untagged && r.name == "CAPABILITY") {
    for (const Value& v : r.values)
      if (v.kind == Value::Kind::Atom) caps.push_back(upperCased(v.text));
    return caps;
  }
  if (!r.isStatus()) return caps;
  std::string_view code = r.code;
  const std::size_t space = code.find(' ');
  if (!equalsNoCase(code.substr(0, space), "CAPABILITY") || space == std::string_view::npos) return caps;
  code.remove_prefix(space + 1);
  while (!code.empty()) {
    const std::size_t end = std::min(code.find(' '), code.size());
    if (end > 0) caps.push_back(upperCased(code.substr(0, end)));
    code.remove_prefix(std::min(end + 1, code.size()));
  }
  return caps;
}

std::string mailboxArgument(const std::u16string& folder) {
  // Printable ASCII as it is ("&" as "&-"), anything else as UTF-16 in a
  // modified Base64 between "&" and "-".
  const std::u16string name = folder.empty() ? std::u16string(u"INBOX") : folder;
  std::string out;
  std::string pending;  // UTF-16BE bytes of the run being encoded
  auto flush = [&] {
    if (pending.empty()) return;
    std::string b = encodeBase64(pending);
    while (!b.empty() && b.back() == '=') b.pop_back();
    std::replace(b.begin(), b.end(), '/', ',');
    out += '&' + b + '-';
    pending.clear();
  };
  for (char16_t c : name) {
    if (c >= 0x20 && c <= 0x7E) {
      flush();
      out += c == u'&' ? std::string("&-") : std::string(1, static_cast<char>(c));
    } else {
      pending += static_cast<char>(c >> 8);
      pending += static_cast<char>(c & 0xFF);
    }
  }
  flush();
  return quoted(out).value_or("\"INBOX\"");
}

}  // namespace tarvi::imap
