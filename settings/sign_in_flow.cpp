#include "settings/sign_in_flow.h"

namespace tarvi::settings {
namespace {

std::string hex(std::string_view bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (const unsigned char b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

// For whatever else reaches the port: a browser's favicon, a stray or
// forged request. It learns nothing and the wait goes on.
std::string badRequest() {
  const std::string body = "Bad Request\n";
  return "HTTP/1.1 400 Bad Request\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" + body;
}

Text failedWith(const std::string& error, const std::string& description) {
  Text t = Text(kSignInFailed) + fromUtf8(error);
  if (!description.empty()) t += u" (" + fromUtf8(description) + u")";
  return t;
}

}  // namespace

SignInFlow::SignInFlow(const SignInProvider& provider, std::string_view loginHint, std::string_view randomBytes,
                       int port)
    : clientId_(provider.clientId),
      clientSecret_(provider.clientSecret),
      verifier_(oauth::verifierFromRandom(randomBytes.substr(0, 48))),
      state_(hex(randomBytes.substr(48, 16))),
      redirectUri_("http://127.0.0.1:" + std::to_string(port) + "/") {
  oauth::AuthorizationRequest r;
  r.endpoint = provider.authorizeUrl;
  r.clientId = provider.clientId;
  r.redirectUri = redirectUri_;
  r.scope = provider.scope;
  r.state = state_;
  r.challenge = oauth::pkceChallenge(verifier_);
  r.loginHint = std::string(loginHint);
  authorizationUrl_ = oauth::authorizationUrl(r);
}

SignInFlow::Answer SignInFlow::onRequest(std::string_view requestHead) {
  Answer a;
  a.reply = badRequest();
  if (taken_) {
    a.means = Answer::Means::Refused;
    return a;
  }
  const auto redirect = oauth::parseRedirectRequest(requestHead);
  // Only the browser we sent holds the state; anything else on this
  // machine that finds the port cannot end or steer the sign-in.
  if (!redirect || state_.size() != 32 || redirect->state != state_) return a;
  taken_ = true;
  if (!redirect->error.empty() || redirect->code.empty()) {
    a.means = Answer::Means::Failed;
    a.reply = oauth::redirectReplyPage(false);
    a.error = redirect->error == "access_denied" ? Text(kSignInCancelled)
              : redirect->error.empty()          ? Text(kBadTokenReply)
                                                 : failedWith(redirect->error, redirect->errorDescription);
    return a;
  }
  a.means = Answer::Means::Exchange;
  a.reply = oauth::redirectReplyPage(true);
  a.form.grant = oauth::TokenForm::Grant::AuthorizationCode;
  a.form.code = redirect->code;
  a.form.redirectUri = redirectUri_;
  a.form.clientId = clientId_;
  a.form.clientSecret = clientSecret_;
  a.form.codeVerifier = verifier_;
  return a;
}

SignInResult SignInFlow::tokenOutcome(int status, std::string_view body) {
  SignInResult r;
  const auto parsed = oauth::parseTokenResponse(body);
  if (!parsed) {
    r.error = kBadTokenReply;
    return r;
  }
  if (!parsed->error.empty()) {
    r.error = failedWith(parsed->error, parsed->errorDescription);
    return r;
  }
  if (status < 200 || status > 299) {
    r.error = kBadTokenReply;
    return r;
  }
  if (parsed->refreshToken.empty()) {
    r.error = kNoRefreshToken;
    return r;
  }
  r.ok = true;
  r.refreshToken = fromUtf8(parsed->refreshToken);
  r.accessToken = parsed->accessToken;
  r.expiresIn = parsed->expiresIn;
  return r;
}

}  // namespace tarvi::settings
