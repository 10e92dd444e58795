// Signing in with a token (OAuth 2.0) instead of a password: which provider
// an account signs in with, and what the logon sends (SASL XOAUTH2, or
// OAUTHBEARER of RFC 7628 where a server offers only that).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/settings.h"
#include "common/text.h"

namespace tarvi {

struct SignInProvider {
  std::string authorizeUrl;
  std::string tokenUrl;
  std::string scope;     // space-separated, as the authorization request takes it
  std::string clientId;  // empty where neither the build nor the account gives one
  // Sent where the provider asks for one even of an installed program
  // (Google); only with the build's own client id.
  std::string clientSecret;
};

// The client ids this build was given for the built-in providers (CMake
// cache variables TARVI_MICROSOFT_CLIENT_ID and TARVI_GOOGLE_CLIENT_ID);
// empty by default: no other application's id is ever borrowed.
std::string builtInClientId(SignIn provider);

// The provider of an account that signs in with a token; nullopt for one
// that signs in with its password (or a setting that is no provider).
std::optional<SignInProvider> signInProvider(const AccountSettings& a);

// Why the account cannot sign in as set up ("" when it can): no client id,
// or endpoints that are not https (loopback hosts excepted).
Text signInProblem(const AccountSettings& a);

inline constexpr const char16_t* kNoClientId =
    u"ｻｲﾝｲﾝに使うｸﾗｲｱﾝﾄIDがありません。ｱｶｳﾝﾄの設定でｸﾗｲｱﾝﾄIDを入力してください";
inline constexpr const char16_t* kBadEndpoint =
    u"ｻｲﾝｲﾝ先のURLが正しくありません(httpsのURLを指定してください)";

// The refresh token was refused by the provider (revoked, expired, the
// password changed): only a new sign-in helps.
inline constexpr const char16_t* kSignInAgain =
    u"ｻｲﾝｲﾝの有効期限が切れたか、取り消されました。設定でｻｲﾝｲﾝし直してください";
// The account signs in with a token but holds none (never signed in, or
// the stored one could not be read).
inline constexpr const char16_t* kNotSignedIn = u"ｻｲﾝｲﾝしていません。設定でｻｲﾝｲﾝしてください";
inline constexpr const char16_t* kNoTokenLogon =
    u"ｻｰﾊﾞがﾄｰｸﾝでのﾛｸﾞｲﾝ(XOAUTH2/OAUTHBEARER)に対応していません";

// True for an account that signs in with a token, whatever its provider.
inline bool signsInWithToken(const AccountSettings& a) { return a.signIn != kPasswordSignIn; }

// The initial client responses, not yet in Base64.
// XOAUTH2: "user=" user ^A "auth=Bearer " token ^A ^A.
std::string xoauth2Response(std::string_view user, std::string_view token);
// OAUTHBEARER: the GS2 header with the user as authzid (',' and '=' escaped),
// host and port, then the bearer token.
std::string oauthBearerResponse(std::string_view user, std::string_view host, int port, std::string_view token);
// What the client answers a server's error challenge with, so that the
// server can send its refusal: nothing for XOAUTH2, ^A for OAUTHBEARER.
std::string saslErrorAnswer(bool oauthBearer);

}  // namespace tarvi
