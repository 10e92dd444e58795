#include "common/win32/token_http.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <climits>

#include "common/oauth.h"
#include "common/sign_in.h"

namespace tarvi::win32 {
namespace {

constexpr const char16_t* kCannotConnect = u"ｻｲﾝｲﾝ先のｻｰﾊﾞに接続できませんでした";
constexpr const char16_t* kNoAnswer = u"ｻｲﾝｲﾝ先のｻｰﾊﾞが応答しませんでした";
constexpr const char16_t* kBadCertificate = u"ｻｲﾝｲﾝ先のｻｰﾊﾞの証明書を確認できませんでした";

// Older SDK headers lack these; the values are Windows' own.
#ifndef WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY
#define WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY 4
#endif
#ifndef WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3
#define WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3 0x00002000
#endif

// WSAETIMEDOUT, which Wine passes on for a reply that does not come.
constexpr DWORD kSocketTimedOut = 10060;

class Handle {
 public:
  explicit Handle(HINTERNET h = nullptr) : h_(h) {}
  ~Handle() {
    if (h_) WinHttpCloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HINTERNET get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }

 private:
  HINTERNET h_;
};

HttpReply failure(const char16_t* why) {
  HttpReply r;
  r.error = why;
  return r;
}

// What the user is told for the error of the WinHTTP call that failed.
HttpReply failureOf(DWORD error) {
  switch (error) {
    case ERROR_WINHTTP_TIMEOUT:
    case kSocketTimedOut:
      return failure(kNoAnswer);
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
    // Wine reports a refused certificate so; on Windows it is a handshake
    // that failed, which leaves the server as unconfirmed.
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
      return failure(kBadCertificate);
    default:
      return failure(kCannotConnect);
  }
}

HttpReply lastFailure() { return failureOf(GetLastError()); }

std::wstring wide(const std::string& utf8) {
  const Text t = fromUtf8(utf8);
  return std::wstring(t.begin(), t.end());
}

// A session of Windows' proxy settings: the user's own where the system
// offers them (Windows 8.1 on), else those set for WinHTTP.
HINTERNET openSession(bool direct) {
  const wchar_t* agent = L"tarvi";
  if (direct) return WinHttpOpen(agent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  if (HINTERNET s = WinHttpOpen(agent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                WINHTTP_NO_PROXY_BYPASS, 0))
    return s;
  return WinHttpOpen(agent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
}

}  // namespace

HttpReply postForm(const std::string& url, const std::string& formBody, unsigned timeoutMs) {
  if (!oauth::acceptedEndpoint(url)) return failure(kBadEndpoint);
  const std::wstring wideUrl = wide(url);
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(wideUrl.c_str(), 0, 0, &parts) || !parts.lpszHostName) return failure(kBadEndpoint);
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring target = parts.lpszUrlPath ? std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) : L"";
  if (parts.lpszExtraInfo) target.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (target.empty()) target = L"/";
  const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  // acceptedEndpoint already says so; the code and tokens must never go out
  // in the clear whatever a later change to it lets through.
  const bool loopback = oauth::loopbackHost(toUtf8(Text(host.begin(), host.end())));
  if (!secure && (parts.nScheme != INTERNET_SCHEME_HTTP || !loopback)) return failure(kBadEndpoint);

  Handle session(openSession(!secure));
  if (!session) return lastFailure();
  const int limit = timeoutMs > INT_MAX ? INT_MAX : static_cast<int>(timeoutMs);
  WinHttpSetTimeouts(session.get(), limit, limit, limit, limit);
  if (secure) {
    // Windows 7 offers TLS 1.2 to WinHTTP only when asked; providers take
    // nothing older. A system that knows no TLS 1.3 refuses the pair.
    DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
    if (!WinHttpSetOption(session.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols)) {
      protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
      WinHttpSetOption(session.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols);
    }
  }
  Handle connection(WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
  if (!connection) return lastFailure();
  Handle request(WinHttpOpenRequest(connection.get(), L"POST", target.c_str(), nullptr, WINHTTP_NO_REFERER,
                                    WINHTTP_DEFAULT_ACCEPT_TYPES, secure ? WINHTTP_FLAG_SECURE : 0));
  if (!request) return lastFailure();
  // A token endpoint has no reason to redirect, and a 307 would send the
  // code and verifier on to wherever it points.
  DWORD features = WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_COOKIES;
  WinHttpSetOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE, &features, sizeof features);
  DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
  WinHttpSetOption(request.get(), WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never);
  // The wait for the reply's head has a limit of its own, which
  // WinHttpSetTimeouts leaves as it was (Wine: none at all).
  DWORD headLimit = static_cast<DWORD>(limit);
  WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headLimit, sizeof headLimit);

  const wchar_t* headers =
      L"Content-Type: application/x-www-form-urlencoded\r\n"
      L"Accept: application/json\r\n";
  const DWORD length = static_cast<DWORD>(formBody.size());
  if (!WinHttpSendRequest(request.get(), headers, static_cast<DWORD>(-1), const_cast<char*>(formBody.data()), length,
                          length, 0))
    return lastFailure();
  if (!WinHttpReceiveResponse(request.get(), nullptr)) return lastFailure();

  HttpReply reply;
  DWORD status = 0, size = sizeof status;
  if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
    return lastFailure();
  // One byte over the limit is enough for the parser to refuse the reply.
  const std::size_t most = oauth::kMaxTokenResponse + 1;
  char buffer[8192];
  while (reply.body.size() < most) {
    const std::size_t want = std::min(sizeof buffer, most - reply.body.size());
    DWORD got = 0;
    if (!WinHttpReadData(request.get(), buffer, static_cast<DWORD>(want), &got)) return lastFailure();
    if (got == 0) break;
    reply.body.append(buffer, got);
  }
  reply.status = static_cast<int>(status);
  return reply;
}

}  // namespace tarvi::win32
