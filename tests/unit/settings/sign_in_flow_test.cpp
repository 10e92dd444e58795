// One sign-in as the listener and the token endpoint see it: which
// requests end the wait, and what the token reply comes to.
#include <gtest/gtest.h>

#include <vector>

#include "settings/sign_in_flow.h"

namespace tarvi::settings {
namespace {

using Means = SignInFlow::Answer::Means;

SignInFlow newFlow() {
  SignInProvider p{"https://auth.example/authorize", "https://auth.example/token", "mail offline", "client-1", ""};
  std::string random;
  for (int i = 0; i < 64; ++i) random += static_cast<char>(i * 7);
  return SignInFlow(p, "user@example.com", random, 54321);
}

std::string param(const std::string& url, const std::string& name) {
  const auto at = url.find("&" + name + "=");
  if (at == std::string::npos) return "";
  const auto from = at + name.size() + 2;
  return url.substr(from, url.find('&', from) - from);
}

std::string get(const std::string& target) { return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"; }

TEST(SignInFlow, AuthorizationUrlCarriesTheChallengeOfTheVerifierExchanged) {
  SignInFlow flow = newFlow();
  EXPECT_EQ(flow.redirectUri(), "http://127.0.0.1:54321/");
  const std::string& url = flow.authorizationUrl();
  EXPECT_EQ(param(url, "redirect_uri"), oauth::percentEncode("http://127.0.0.1:54321/"));
  EXPECT_EQ(param(url, "code_challenge_method"), "S256");
  EXPECT_EQ(param(url, "login_hint"), oauth::percentEncode("user@example.com"));
  const std::string state = param(url, "state");
  EXPECT_EQ(state.size(), 32u);
  const auto a = flow.onRequest(get("/?code=c0de&state=" + state));
  ASSERT_EQ(a.means, Means::Exchange);
  EXPECT_EQ(param(url, "code_challenge"), oauth::pkceChallenge(a.form.codeVerifier));
  EXPECT_EQ(a.form.grant, oauth::TokenForm::Grant::AuthorizationCode);
  EXPECT_EQ(a.form.code, "c0de");
  EXPECT_EQ(a.form.redirectUri, flow.redirectUri());
  EXPECT_EQ(a.form.clientId, "client-1");
}

TEST(SignInFlow, OnlyTheFirstRequestWithOurStateIsTaken) {
  const std::string S = "{S}";  // stands for the flow's own state
  const struct {
    const char* what;
    std::vector<std::pair<std::string, Means>> requests;
    std::u16string error;  // of the request taken, when it failed
  } cases[] = {
      {"favicon, other path, then the code",
       {{"/favicon.ico", Means::Ignored}, {"/other?code=x&state=" + S, Means::Ignored},
        {"/?code=x&state=" + S, Means::Exchange}},
       u""},
      {"wrong and missing state ignored",
       {{"/?code=x&state=0123", Means::Ignored}, {"/?code=x", Means::Ignored},
        {"/?error=access_denied&state=bad", Means::Ignored}, {"/?code=x&state=" + S, Means::Exchange}},
       u""},
      {"second request refused",
       {{"/?code=x&state=" + S, Means::Exchange}, {"/?code=y&state=" + S, Means::Refused},
        {"/favicon.ico", Means::Refused}},
       u""},
      {"user said no", {{"/?error=access_denied&state=" + S, Means::Failed}, {"/?code=x&state=" + S, Means::Refused}},
       kSignInCancelled},
      {"provider error",
       {{"/?error=server_error&error_description=busy&state=" + S, Means::Failed}},
       u"ｻｲﾝｲﾝできませんでした: server_error (busy)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SignInFlow flow = newFlow();
    const std::string state = param(flow.authorizationUrl(), "state");
    for (auto [target, means] : c.requests) {
      if (const auto at = target.find(S); at != std::string::npos) target.replace(at, S.size(), state);
      SCOPED_TRACE(target);
      const auto a = flow.onRequest(get(target));
      EXPECT_EQ(a.means, means);
      EXPECT_EQ(a.taken(), means == Means::Exchange || means == Means::Failed);
      if (means == Means::Exchange) {
        EXPECT_EQ(a.reply, oauth::redirectReplyPage(true));
      }
      if (means == Means::Failed) {
        EXPECT_EQ(a.reply, oauth::redirectReplyPage(false));
        EXPECT_EQ(a.error, c.error);
      }
      if (!a.taken()) {
        EXPECT_EQ(a.reply.rfind("HTTP/1.1 400 ", 0), 0u);
      }
    }
  }
}

TEST(SignInFlow, TokenReplies) {
  const struct {
    int status;
    std::string body;
    bool ok;
    std::u16string refreshOrError;
  } cases[] = {
      {200, R"({"access_token":"at","refresh_token":"rt","expires_in":3599})", true, u"rt"},
      {400, R"({"error":"invalid_grant","error_description":"code expired"})", false,
       u"ｻｲﾝｲﾝできませんでした: invalid_grant (code expired)"},
      {401, R"({"error":"invalid_client"})", false, u"ｻｲﾝｲﾝできませんでした: invalid_client"},
      {200, R"({"access_token":"at","expires_in":3599})", false, kNoRefreshToken},
      {200, "<html>", false, kBadTokenReply},
      {500, "{}", false, kBadTokenReply},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body);
    const SignInResult r = SignInFlow::tokenOutcome(c.status, c.body);
    EXPECT_EQ(r.ok, c.ok);
    EXPECT_EQ(c.ok ? r.refreshToken : r.error, c.refreshOrError);
    if (c.ok) {
      EXPECT_EQ(r.accessToken, "at");
      EXPECT_EQ(r.expiresIn, 3599);
    }
  }
}

}  // namespace
}  // namespace tarvi::settings
