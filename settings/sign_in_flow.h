// What one sign-in decides, apart from sockets, the browser and threads:
// the URLs it starts with, what each request reaching the loopback
// listener means and is answered, and what the token endpoint's reply
// comes to. The settings program's sign-in dialog drives it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/oauth.h"
#include "common/sign_in.h"
#include "common/text.h"

namespace tarvi::settings {

// The random bytes a flow is made from: the verifier from the first 48
// (64 characters), the state from the last 16.
inline constexpr std::size_t kSignInRandomBytes = 64;

// How long the user has to finish in the browser; the shell keeps the time.
inline constexpr unsigned kSignInTimeoutMs = 5 * 60 * 1000;
inline constexpr const char16_t* kSignInTimedOut = u"ｻｲﾝｲﾝがﾀｲﾑｱｳﾄしました";
inline constexpr const char16_t* kSignInCancelled = u"ｻｲﾝｲﾝが取り消されました";
inline constexpr const char16_t* kSignInFailed = u"ｻｲﾝｲﾝできませんでした: ";
inline constexpr const char16_t* kNoRefreshToken = u"ｻｲﾝｲﾝ先がﾘﾌﾚｯｼｭﾄｰｸﾝを返しませんでした";
inline constexpr const char16_t* kBadTokenReply = u"ｻｲﾝｲﾝ先の応答が正しくありません";

// The outcome of the exchange of the code.
struct SignInResult {
  bool ok = false;
  Text refreshToken;
  std::string accessToken;
  std::int64_t expiresIn = 0;
  Text error;  // when not ok
};

class SignInFlow {
 public:
  // `randomBytes` must be kSignInRandomBytes from the system's
  // cryptographic source; `port` is the loopback listener's.
  SignInFlow(const SignInProvider& provider, std::string_view loginHint, std::string_view randomBytes, int port);

  const std::string& redirectUri() const { return redirectUri_; }
  const std::string& authorizationUrl() const { return authorizationUrl_; }

  // One request head the listener read, and what comes of it.
  struct Answer {
    enum class Means {
      Ignored,   // not the redirect, or not ours: keep waiting
      Exchange,  // the code: exchange `form` for tokens
      Failed,    // the provider's error: the sign-in ends with `error`
      Refused,   // the redirect was already taken
    };
    Means means = Means::Ignored;
    std::string reply;  // the whole HTTP response to send before closing
    oauth::TokenForm form;
    Text error;
    // Whether the listener has what it waits for and can stop.
    bool taken() const { return means == Means::Exchange || means == Means::Failed; }
  };
  Answer onRequest(std::string_view requestHead);

  // The token endpoint's reply to the exchange (a reply that came: status != 0).
  static SignInResult tokenOutcome(int status, std::string_view body);

 private:
  std::string clientId_, clientSecret_, verifier_, state_, redirectUri_, authorizationUrl_;
  bool taken_ = false;
};

}  // namespace tarvi::settings
