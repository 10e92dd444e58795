// Which provider an account signs in with, and the SASL responses that
// carry its token, against the examples of their documentation.
#include <gtest/gtest.h>

#include "common/base64.h"
#include "common/sign_in.h"

namespace tarvi {
namespace {

TEST(SignIn, ProvidersAndWhatKeepsAnAccountFromSigningIn) {
  const struct {
    const char* what;
    std::int16_t signIn, protocol;
    const char16_t *client, *authorize, *token;
    std::string scope;  // "" when the account signs in with its password
    const char16_t* problem;
  } cases[] = {
      {"password", kPasswordSignIn, kPop3, u"", u"", u"", "", u""},
      {"Microsoft POP3", kMicrosoftSignIn, kPop3, u"id", u"", u"",
       "https://outlook.office.com/POP.AccessAsUser.All offline_access", u""},
      {"Microsoft IMAP", kMicrosoftSignIn, kImap, u"id", u"", u"",
       "https://outlook.office.com/IMAP.AccessAsUser.All offline_access", u""},
      {"Google without a client id", kGoogleSignIn, kImap, u"", u"", u"", "https://mail.google.com/", kNoClientId},
      {"another provider on loopback", kOtherSignIn, kImap, u"c", u"http://127.0.0.1:8080/authorize",
       u"http://127.0.0.1:8080/token", "mail", u""},
      {"another provider in the clear", kOtherSignIn, kImap, u"c", u"http://auth.example/authorize",
       u"https://auth.example/token", "mail", kBadEndpoint},
  };
  for (const auto& c : cases) {
    AccountSettings a;
    a.signIn = c.signIn;
    a.protocol = c.protocol;
    a.oauthClient = c.client;
    a.oauthAuthorizeUrl = c.authorize;
    a.oauthTokenUrl = c.token;
    a.oauthScope = u"mail";
    const auto p = signInProvider(a);
    EXPECT_EQ(p ? p->scope : "", c.scope) << c.what;
    if (p) {
      EXPECT_EQ(p->clientId, toUtf8(c.client)) << c.what;
    }
    EXPECT_EQ(toUtf8(signInProblem(a)), toUtf8(c.problem)) << c.what;
  }
}

TEST(SignIn, SaslResponsesAsDocumented) {
  // Google's XOAUTH2 example and RFC 7628's OAUTHBEARER one.
  EXPECT_EQ(encodeBase64(xoauth2Response("someuser@example.com", "ya29.vF9dft4qmTc2Nvb3RlckBhdHRhdmlzdGEuY29tCg")),
            "dXNlcj1zb21ldXNlckBleGFtcGxlLmNvbQFhdXRoPUJlYXJlciB5YTI5LnZGOWRmdDRxbVRjMk52YjNSbGNrQmhkSFJoZG1semRHRXVZMjl0Q2cBAQ==");
  EXPECT_EQ(oauthBearerResponse("user@example.com", "server.example.com", 143, "vF9dft4qmTc2Nvb3RlckBhbHRhdmlzdGEuY29tCg=="),
            "n,a=user@example.com,\x01host=server.example.com\x01port=143\x01"
            "auth=Bearer vF9dft4qmTc2Nvb3RlckBhbHRhdmlzdGEuY29tCg==\x01\x01");
  EXPECT_EQ(oauthBearerResponse("a,b=c", "h", 1, "t").substr(0, 14), "n,a=a=2Cb=3Dc,");
  EXPECT_EQ(saslErrorAnswer(true), "\x01");
  EXPECT_EQ(saslErrorAnswer(false), "");
}

}  // namespace
}  // namespace tarvi
