// The portable pieces of signing in to a mail account with OAuth 2.0 as a
// native app (RFC 8252): the browser is sent to the provider's authorization
// endpoint with a PKCE challenge (RFC 7636), the provider redirects it to a
// loopback listener of ours, and the code it brings is exchanged for tokens.
// Sockets, the browser and randomness belong to the platform; everything
// decided about the bytes exchanged lives here, so that it is tested natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvi::oauth {

// --- PKCE --------------------------------------------------------------------

// The S256 challenge sent with the authorization request: base64url (no
// padding) of SHA-256 of the verifier.
std::string pkceChallenge(std::string_view verifier);

// True for 43..128 characters of ALPHA / DIGIT / "-" / "." / "_" / "~".
bool validVerifier(std::string_view v);

// A verifier made from `randomBytes`, which the caller must take from the
// system's cryptographic random source: this function adds no randomness.
// 32..96 bytes give 43..128 characters; any other length gives "".
std::string verifierFromRandom(std::string_view randomBytes);

// --- URLs --------------------------------------------------------------------

// RFC 3986 unreserved characters are kept, every other byte becomes %XX
// (upper-case hex); valid in a query and in a form body.
std::string percentEncode(std::string_view s);
// nullopt on a "%" not followed by two hex digits; `plusIsSpace` for query
// strings and form bodies, where "+" stands for a space.
std::optional<std::string> percentDecode(std::string_view s, bool plusIsSpace);

struct AuthorizationRequest {
  std::string endpoint, clientId, redirectUri, scope, state, challenge, loginHint;
};

// The URL the browser is opened at. The endpoint may carry a query of its
// own (the parameters are appended); loginHint is left out when empty.
std::string authorizationUrl(const AuthorizationRequest& r);

// Whether an authorization or token endpoint may be used: https with a host,
// or plain http only to this machine (127.0.0.1, [::1], localhost), since
// anything else would carry the code and tokens in the clear. No userinfo,
// no fragment, nothing but a host and an optional port before the path.
bool acceptedEndpoint(std::string_view url);
// The hosts of this machine an endpoint may name in the clear: 127.0.0.1,
// [::1] (or ::1, as some URL parsers give it) and localhost.
bool loopbackHost(std::string_view host);

// --- The loopback redirect ---------------------------------------------------

// The most a request head may take, CRLFCRLF included; providers' codes
// are far shorter, and a bound keeps a stray client from filling memory.
constexpr std::size_t kMaxRequestHead = 8192;

// True once `bytes` hold a whole request head (up to CRLFCRLF).
bool requestHeadComplete(std::string_view bytes);
// True when `bytes` can no longer become a head within kMaxRequestHead:
// the listener then stops reading and closes the connection.
bool requestHeadTooLarge(std::string_view bytes);

// What the provider's redirect brought; the caller compares `state` with
// the one it sent and takes `code` only when they are equal.
struct Redirect {
  std::string code, state, error, errorDescription;
};

// Reads the request head the browser sent to the listener: a GET of "/" (or
// an empty path) with a query holding a code or an error. nullopt for any
// other request (favicon, another method, no query, a bad escape, a
// parameter given twice, both a code and an error), for an incomplete
// head and for one over kMaxRequestHead. Parameters other than code,
// state, error and error_description are ignored.
std::optional<Redirect> parseRedirectRequest(std::string_view httpRequestHead);

// The whole HTTP/1.1 response the listener sends back before it closes:
// a short Japanese page telling the user whether signing in succeeded.
std::string redirectReplyPage(bool ok);

// --- The token endpoint ------------------------------------------------------

// One POST body to the token endpoint. For an authorization code: code,
// redirectUri (the same as in the authorization request), clientId and
// codeVerifier; for a refresh: refreshToken, clientId and scope (left out
// when empty). clientSecret is sent only when set: some providers issue
// one to native apps even though it is no secret.
struct TokenForm {
  enum class Grant { AuthorizationCode, RefreshToken };
  Grant grant = Grant::AuthorizationCode;
  std::string clientId, clientSecret, code, redirectUri, codeVerifier, refreshToken, scope;
};

// application/x-www-form-urlencoded.
std::string tokenRequestBody(const TokenForm& f);

// The limits of what parseTokenResponse reads.
constexpr std::size_t kMaxTokenResponse = 65536;
constexpr int kMaxJsonDepth = 16;

struct TokenResponse {
  std::string accessToken, refreshToken, idToken, error, errorDescription;
  std::int64_t expiresIn = 0;
};

// Reads the JSON object a token endpoint answers with. Members other than
// the ones above are skipped (nested values included); expires_in may be
// a number or a string of digits. nullopt for anything that is not one
// valid JSON object, for a known member of the wrong type or given twice,
// for input over kMaxTokenResponse bytes and for nesting deeper than
// kMaxJsonDepth. Whether a response with neither a token nor an error is
// usable is for the caller to say.
std::optional<TokenResponse> parseTokenResponse(std::string_view json);

}  // namespace tarvi::oauth
