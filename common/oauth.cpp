#include "common/oauth.h"

#include <array>
#include <set>

#include "common/base64.h"
#include "common/sha256.h"

namespace tarvi::oauth {
namespace {

bool isAlpha(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isUnreserved(char c) { return isAlpha(c) || isDigit(c) || c == '-' || c == '.' || c == '_' || c == '~'; }
char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

int hexValue(char c) {
  if (isDigit(c)) return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// "name=value&..." with every value escaped.
void appendParam(std::string& out, std::string_view name, std::string_view value) {
  if (!out.empty() && out.back() != '?' && out.back() != '&') out += '&';
  out += name;
  out += '=';
  out += percentEncode(value);
}

}  // namespace

std::string pkceChallenge(std::string_view verifier) {
  const auto digest = sha256(verifier);
  return encodeBase64(std::string_view(reinterpret_cast<const char*>(digest.data()), digest.size()), true);
}

bool validVerifier(std::string_view v) {
  if (v.size() < 43 || v.size() > 128) return false;
  for (char c : v)
    if (!isUnreserved(c)) return false;
  return true;
}

std::string verifierFromRandom(std::string_view randomBytes) {
  if (randomBytes.size() < 32 || randomBytes.size() > 96) return "";
  return encodeBase64(randomBytes, true);
}

std::string percentEncode(std::string_view s) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    if (isUnreserved(c)) {
      out += c;
    } else {
      const auto b = static_cast<unsigned char>(c);
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 15];
    }
  }
  return out;
}

std::optional<std::string> percentDecode(std::string_view s, bool plusIsSpace) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%') {
      const int hi = i + 2 < s.size() ? hexValue(s[i + 1]) : -1;
      const int lo = hi >= 0 ? hexValue(s[i + 2]) : -1;
      if (lo < 0) return std::nullopt;
      out += static_cast<char>(hi << 4 | lo);
      i += 2;
    } else {
      out += plusIsSpace && s[i] == '+' ? ' ' : s[i];
    }
  }
  return out;
}

std::string authorizationUrl(const AuthorizationRequest& r) {
  std::string url = r.endpoint;
  if (url.find('?') == std::string::npos) url += '?';
  appendParam(url, "response_type", "code");
  appendParam(url, "client_id", r.clientId);
  appendParam(url, "redirect_uri", r.redirectUri);
  appendParam(url, "scope", r.scope);
  appendParam(url, "state", r.state);
  appendParam(url, "code_challenge", r.challenge);
  appendParam(url, "code_challenge_method", "S256");
  if (!r.loginHint.empty()) appendParam(url, "login_hint", r.loginHint);
  return url;
}

bool acceptedEndpoint(std::string_view url) {
  const std::size_t colon = url.find("://");
  if (colon == std::string_view::npos) return false;
  const std::string_view scheme = url.substr(0, colon);
  const bool https = equalNoCase(scheme, "https");
  if (!https && !equalNoCase(scheme, "http")) return false;
  std::string_view rest = url.substr(colon + 3);
  for (char c : rest)
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f || c == '#' || c == '\\') return false;
  const std::string_view authority = rest.substr(0, rest.find_first_of("/?"));
  // The host is checked character by character, so a userinfo ("@") or any
  // other trick before the path ends up refused rather than misread.
  std::size_t hostEnd;
  if (!authority.empty() && authority[0] == '[') {
    hostEnd = authority.find(']');
    if (hostEnd == std::string_view::npos || hostEnd < 2) return false;
    for (char c : authority.substr(1, hostEnd - 1))
      if (hexValue(c) < 0 && c != ':' && c != '.') return false;
    ++hostEnd;
  } else {
    hostEnd = authority.find(':');
    if (hostEnd == std::string_view::npos) hostEnd = authority.size();
    for (char c : authority.substr(0, hostEnd))
      if (!isAlpha(c) && !isDigit(c) && c != '-' && c != '.' && c != '_') return false;
  }
  const std::string_view host = authority.substr(0, hostEnd);
  if (host.empty()) return false;
  if (hostEnd < authority.size()) {
    const std::string_view port = authority.substr(hostEnd);
    if (port[0] != ':' || port.size() < 2 || port.size() > 6) return false;
    long value = 0;
    for (char c : port.substr(1)) {
      if (!isDigit(c)) return false;
      value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535) return false;
  }
  return https || loopbackHost(host);
}

bool loopbackHost(std::string_view host) {
  return host == "127.0.0.1" || host == "[::1]" || host == "::1" || equalNoCase(host, "localhost");
}

bool requestHeadComplete(std::string_view bytes) { return bytes.find("\r\n\r\n") != std::string_view::npos; }

bool requestHeadTooLarge(std::string_view bytes) {
  return bytes.size() >= kMaxRequestHead && !requestHeadComplete(bytes.substr(0, kMaxRequestHead));
}

std::optional<Redirect> parseRedirectRequest(std::string_view httpRequestHead) {
  const std::size_t headEnd = httpRequestHead.find("\r\n\r\n");
  if (headEnd == std::string_view::npos || headEnd + 4 > kMaxRequestHead) return std::nullopt;
  const std::string_view head = httpRequestHead.substr(0, headEnd + 2);
  const std::size_t lineEnd = head.find("\r\n");
  const std::string_view line = head.substr(0, lineEnd);
  // "GET SP target SP HTTP/1.x": nothing else is a browser following the
  // redirect.
  const std::size_t sp1 = line.find(' ');
  const std::size_t sp2 = sp1 == std::string_view::npos ? sp1 : line.find(' ', sp1 + 1);
  if (sp2 == std::string_view::npos || line.substr(0, sp1) != "GET") return std::nullopt;
  const std::string_view target = line.substr(sp1 + 1, sp2 - sp1 - 1);
  const std::string_view version = line.substr(sp2 + 1);
  if (version.size() != 8 || version.substr(0, 7) != "HTTP/1." || !isDigit(version[7])) return std::nullopt;
  // Each header line a "name: value".
  for (std::size_t at = lineEnd + 2; at < head.size();) {
    const std::size_t next = head.find("\r\n", at);
    const std::size_t nameEnd = head.find(':', at);
    if (nameEnd == at || nameEnd >= next) return std::nullopt;
    at = next + 2;
  }
  std::string_view query;
  if (target.substr(0, 2) == "/?")
    query = target.substr(2);
  else if (target.substr(0, 1) == "?")
    query = target.substr(1);
  if (query.empty()) return std::nullopt;

  Redirect r;
  std::set<std::string> seen;
  while (true) {
    const std::size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    const std::size_t eq = pair.find('=');
    const auto name = percentDecode(pair.substr(0, eq), true);
    const auto value = percentDecode(eq == std::string_view::npos ? "" : pair.substr(eq + 1), true);
    if (!name || !value || !seen.insert(*name).second) return std::nullopt;
    if (*name == "code")
      r.code = *value;
    else if (*name == "state")
      r.state = *value;
    else if (*name == "error")
      r.error = *value;
    else if (*name == "error_description")
      r.errorDescription = *value;
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  if (r.code.empty() == r.error.empty()) return std::nullopt;
  return r;
}

std::string redirectReplyPage(bool ok) {
  const std::string message = ok ? "サインインが完了しました。このウィンドウを閉じてください。"
                                 : "サインインできませんでした。設定プログラムに戻ってください。";
  const std::string body =
      "<!DOCTYPE html>\n<html lang=\"ja\"><head><meta charset=\"utf-8\"><title>tarvi</title></head>\n"
      "<body><p>" + message + "</p></body></html>\n";
  // no-store: the page follows a URL holding the code, which the browser
  // should not keep.
  return "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" + body;
}

std::string tokenRequestBody(const TokenForm& f) {
  std::string body;
  if (f.grant == TokenForm::Grant::AuthorizationCode) {
    appendParam(body, "grant_type", "authorization_code");
    appendParam(body, "code", f.code);
    appendParam(body, "redirect_uri", f.redirectUri);
    appendParam(body, "client_id", f.clientId);
    appendParam(body, "code_verifier", f.codeVerifier);
  } else {
    appendParam(body, "grant_type", "refresh_token");
    appendParam(body, "refresh_token", f.refreshToken);
    appendParam(body, "client_id", f.clientId);
    if (!f.scope.empty()) appendParam(body, "scope", f.scope);
  }
  if (!f.clientSecret.empty()) appendParam(body, "client_secret", f.clientSecret);
  return body;
}

namespace {

// A strict reader of RFC 8259 JSON, just enough for a token response:
// strings are decoded, numbers are kept as their text, everything else is
// checked and skipped.
class JsonReader {
 public:
  explicit JsonReader(std::string_view s) : s_(s) {}

  bool atEnd() {
    space();
    return i_ == s_.size();
  }
  bool take(char c) {
    space();
    if (i_ >= s_.size() || s_[i_] != c) return false;
    ++i_;
    return true;
  }
  bool peek(char c) {
    space();
    return i_ < s_.size() && s_[i_] == c;
  }

  bool string(std::string& out) {
    if (!take('"')) return false;
    out.clear();
    while (i_ < s_.size()) {
      const char c = s_[i_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (i_ >= s_.size()) return false;
      const char e = s_[i_++];
      static constexpr std::string_view kFrom = "\"\\/bfnrt", kTo = "\"\\/\b\f\n\r\t";
      if (const std::size_t k = kFrom.find(e); k != std::string_view::npos) {
        out += kTo[k];
      } else if (e != 'u' || !unicodeEscape(out)) {
        return false;
      }
    }
    return false;
  }

  // -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
  bool number(std::string_view& text) {
    space();
    const std::size_t start = i_;
    if (i_ < s_.size() && s_[i_] == '-') ++i_;
    if (i_ < s_.size() && s_[i_] == '0')
      ++i_;
    else if (!digits())
      return false;
    if (i_ < s_.size() && s_[i_] == '.' && (++i_, !digits())) return false;
    if (i_ < s_.size() && (s_[i_] == 'e' || s_[i_] == 'E')) {
      ++i_;
      if (i_ < s_.size() && (s_[i_] == '+' || s_[i_] == '-')) ++i_;
      if (!digits()) return false;
    }
    text = s_.substr(start, i_ - start);
    return true;
  }

  // Any value; `depth` counts the containers already open around it.
  bool skipValue(int depth) {
    space();
    if (i_ >= s_.size()) return false;
    std::string ignored;
    std::string_view text;
    switch (s_[i_]) {
      case '"':
        return string(ignored);
      case '{':
      case '[': {
        if (depth + 1 > kMaxJsonDepth) return false;
        const bool object = s_[i_++] == '{';
        const char close = object ? '}' : ']';
        if (take(close)) return true;
        do {
          if (object && (!string(ignored) || !take(':'))) return false;
          if (!skipValue(depth + 1)) return false;
        } while (take(','));
        return take(close);
      }
      case 't':
        return word("true");
      case 'f':
        return word("false");
      case 'n':
        return word("null");
      default:
        return number(text);
    }
  }

 private:
  void space() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\n' || s_[i_] == '\r')) ++i_;
  }
  bool digits() {
    const std::size_t start = i_;
    while (i_ < s_.size() && isDigit(s_[i_])) ++i_;
    return i_ > start;
  }
  bool word(std::string_view w) {
    if (s_.substr(i_, w.size()) != w) return false;
    i_ += w.size();
    return true;
  }
  bool hex4(unsigned& v) {
    if (s_.size() - i_ < 4) return false;
    v = 0;
    for (int k = 0; k < 4; ++k) {
      const int h = hexValue(s_[i_++]);
      if (h < 0) return false;
      v = v << 4 | static_cast<unsigned>(h);
    }
    return true;
  }
  // After "\u": one code point, a surrogate pair taking two escapes; a
  // lone surrogate cannot be written in UTF-8 and is refused.
  bool unicodeEscape(std::string& out) {
    unsigned cp;
    if (!hex4(cp) || (cp >= 0xDC00 && cp <= 0xDFFF)) return false;
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      unsigned low;
      if (!word("\\u") || !hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
      cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | cp >> 6);
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | cp >> 12);
      out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | cp >> 18);
      out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
    return true;
  }

  std::string_view s_;
  std::size_t i_ = 0;
};

// expires_in as a count of seconds: digits only, within int64.
bool seconds(std::string_view digits, std::int64_t& out) {
  if (digits.empty() || digits.size() > 18) return false;
  out = 0;
  for (char c : digits) {
    if (!isDigit(c)) return false;
    out = out * 10 + (c - '0');
  }
  return true;
}

}  // namespace

std::optional<TokenResponse> parseTokenResponse(std::string_view json) {
  if (json.size() > kMaxTokenResponse) return std::nullopt;
  JsonReader in(json);
  TokenResponse r;
  std::string* const fields[] = {&r.accessToken, &r.refreshToken, &r.idToken, &r.error, &r.errorDescription};
  static constexpr std::string_view kNames[] = {"access_token", "refresh_token", "id_token", "error",
                                                "error_description", "expires_in"};
  std::array<bool, 6> seen{};
  if (!in.take('{')) return std::nullopt;
  if (!in.take('}')) {
    do {
      std::string name;
      if (!in.string(name) || !in.take(':')) return std::nullopt;
      std::size_t k = 0;
      while (k < 6 && kNames[k] != name) ++k;
      if (k == 6) {
        if (!in.skipValue(1)) return std::nullopt;
        continue;
      }
      if (seen[k]) return std::nullopt;
      seen[k] = true;
      if (k < 5) {
        if (!in.string(*fields[k])) return std::nullopt;
      } else if (in.peek('"')) {
        std::string text;
        if (!in.string(text) || !seconds(text, r.expiresIn)) return std::nullopt;
      } else {
        std::string_view text;
        if (!in.number(text) || !seconds(text, r.expiresIn)) return std::nullopt;
      }
    } while (in.take(','));
    if (!in.take('}')) return std::nullopt;
  }
  if (!in.atEnd()) return std::nullopt;
  return r;
}

}  // namespace tarvi::oauth
