#include "common/oauth.h"

#include <gtest/gtest.h>

#include "common/sha256.h"

namespace tarvi::oauth {
namespace {

std::string hex(const std::array<std::uint8_t, 32>& d) {
  std::string out;
  for (auto b : d) out += "0123456789abcdef"[b >> 4], out += "0123456789abcdef"[b & 15];
  return out;
}

TEST(Sha256, KnownVectors) {
  const struct {
    std::string in, digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",  // two blocks of padding
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& k : cases) EXPECT_EQ(hex(sha256(k.in)), k.digest) << k.in.size();
}

TEST(OAuthPkce, ChallengeVerifierAndRandom) {
  EXPECT_EQ(pkceChallenge("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"), "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
  EXPECT_TRUE(validVerifier(std::string(43, 'a')));
  EXPECT_TRUE(validVerifier(std::string(128, '~')));
  EXPECT_TRUE(validVerifier("-._~" + std::string(39, 'Z')));
  EXPECT_FALSE(validVerifier(std::string(42, 'a')));
  EXPECT_FALSE(validVerifier(std::string(129, 'a')));
  EXPECT_FALSE(validVerifier(std::string(42, 'a') + "+"));
  const std::string v = verifierFromRandom(std::string(32, '\xff'));
  EXPECT_EQ(v.size(), 43u);
  EXPECT_TRUE(validVerifier(v));
  EXPECT_TRUE(validVerifier(verifierFromRandom(std::string(96, '\xfb'))));
  EXPECT_EQ(verifierFromRandom(std::string(31, 'x')), "");
  EXPECT_EQ(verifierFromRandom(std::string(97, 'x')), "");
}

TEST(OAuthUrl, PercentRoundTripsAndBadEscapes) {
  EXPECT_EQ(percentEncode("aZ09-._~ /+?&=%\xe3\x81\x82"), "aZ09-._~%20%2F%2B%3F%26%3D%25%E3%81%82");
  for (const std::string& s : {std::string(), std::string("a b+c%"), std::string("\xe3\x81\x82&=?"), std::string("\0\x7f", 2)})
    EXPECT_EQ(percentDecode(percentEncode(s), false), s);
  EXPECT_EQ(percentDecode("a+b%2b%2B", true), "a b++");
  EXPECT_EQ(percentDecode("a+b", false), "a+b");
  for (const char* bad : {"%", "%2", "%g0", "a%0g", "%%41"}) EXPECT_EQ(percentDecode(bad, false), std::nullopt) << bad;
}

TEST(OAuthUrl, AuthorizationUrl) {
  AuthorizationRequest r{"https://login.example/auth", "id 1", "http://127.0.0.1:5000/", "openid email",
                         "s&t", "E9M-", ""};
  const std::string params =
      "response_type=code&client_id=id%201&redirect_uri=http%3A%2F%2F127.0.0.1%3A5000%2F&scope=openid%20email"
      "&state=s%26t&code_challenge=E9M-&code_challenge_method=S256";
  EXPECT_EQ(authorizationUrl(r), "https://login.example/auth?" + params);
  r.endpoint += "?tenant=x";
  r.loginHint = "a@b.jp";
  EXPECT_EQ(authorizationUrl(r), "https://login.example/auth?tenant=x&" + params + "&login_hint=a%40b.jp");
}

TEST(OAuthUrl, AcceptedEndpoints) {
  const struct {
    const char* url;
    bool ok;
  } cases[] = {
      {"https://login.microsoftonline.com/common/oauth2/v2.0/token", true},
      {"HTTPS://oauth2.googleapis.com", true},
      {"https://a.example:8443?x=1", true},
      {"http://127.0.0.1:8080/token", true},
      {"http://[::1]/", true},
      {"Http://LocalHost:1", true},
      {"http://example.com/token", false},
      {"http://127.0.0.2/", false},
      {"http://localhost.example.com/", false},
      {"https://", false},
      {"https:///path", false},
      {"ftp://a.example/", false},
      {"https://user@a.example/", false},
      {"http://127.0.0.1@evil.example/", false},
      {"https://a.example:99999/", false},
      {"https://a.example:/", false},
      {"https://a.example/#frag", false},
      {"https://a.example\\@b/", false},
      {"https://a b/", false},
      {"login.example/auth", false},
  };
  for (const auto& k : cases) EXPECT_EQ(acceptedEndpoint(k.url), k.ok) << k.url;
}

TEST(OAuthRedirect, ParsesOnlyTheRedirectRequest) {
  const std::string tail = " HTTP/1.1\r\nHost: 127.0.0.1:5000\r\nAccept: */*\r\n\r\n";
  const struct {
    std::string head;
    std::optional<Redirect> want;
  } cases[] = {
      {"GET /?code=4%2F0A+b&state=xyz&scope=email" + tail, Redirect{"4/0A b", "xyz", "", ""}},
      {"GET ?state=s&error=access_denied&error_description=User+said+no" + tail,
       Redirect{"", "s", "access_denied", "User said no"}},
      {"GET /favicon.ico" + tail, std::nullopt},
      {"POST /?code=c&state=s" + tail, std::nullopt},
      {"GET /" + tail, std::nullopt},
      {"GET /?" + tail, std::nullopt},
      {"GET /?state=s&x=1" + tail, std::nullopt},                 // neither code nor error
      {"GET /?code=c&state=s&state=t" + tail, std::nullopt},      // which state?
      {"GET /?code=c&error=e" + tail, std::nullopt},
      {"GET /?code=%zz&state=s" + tail, std::nullopt},
      {"GET /?code=c HTTP/1.1\r\nHost: x\r\n", std::nullopt},     // cut before CRLFCRLF
      {"GET /?code=c HTTP/2.0\r\n\r\n", std::nullopt},
      {"GET /?code=c HTTP/1.1\r\nno colon\r\n\r\n", std::nullopt},
      {"\x16\x03\x01garbage\r\n\r\n", std::nullopt},
      {"GET /?code=" + std::string(kMaxRequestHead, 'c') + tail, std::nullopt},
  };
  for (const auto& k : cases) {
    const auto got = parseRedirectRequest(k.head);
    ASSERT_EQ(got.has_value(), k.want.has_value()) << k.head.substr(0, 60);
    if (!got) continue;
    EXPECT_EQ(got->code, k.want->code);
    EXPECT_EQ(got->state, k.want->state);
    EXPECT_EQ(got->error, k.want->error);
    EXPECT_EQ(got->errorDescription, k.want->errorDescription);
  }
}

TEST(OAuthRedirect, HeadCompleteAndBound) {
  EXPECT_FALSE(requestHeadComplete("GET / HTTP/1.1\r\n"));
  EXPECT_TRUE(requestHeadComplete("GET / HTTP/1.1\r\n\r\n"));
  const std::string fits = "GET /?code=" + std::string(kMaxRequestHead - 32, 'c') + "&state=s HTTP/1.1\r\n\r\n";
  ASSERT_EQ(fits.size(), kMaxRequestHead);
  EXPECT_FALSE(requestHeadTooLarge(fits));
  EXPECT_TRUE(parseRedirectRequest(fits).has_value());
  EXPECT_FALSE(requestHeadTooLarge(fits.substr(0, kMaxRequestHead - 1)));
  const std::string over = "GET /?code=c" + fits.substr(11);  // one byte more
  EXPECT_TRUE(requestHeadTooLarge(over));
  EXPECT_FALSE(parseRedirectRequest(over).has_value());
}

TEST(OAuthRedirect, ReplyPage) {
  for (bool ok : {true, false}) {
    const std::string page = redirectReplyPage(ok);
    const std::size_t split = page.find("\r\n\r\n");
    ASSERT_NE(split, std::string::npos);
    const std::string head = page.substr(0, split), body = page.substr(split + 4);
    EXPECT_EQ(head.substr(0, 17), "HTTP/1.1 200 OK\r\n");
    EXPECT_NE(head.find("\r\nContent-Type: text/html; charset=utf-8"), std::string::npos);
    EXPECT_NE(head.find("\r\nContent-Length: " + std::to_string(body.size())), std::string::npos);
    EXPECT_NE(head.find("\r\nConnection: close"), std::string::npos);
    EXPECT_NE(body.find(ok ? "サインインが完了しました。" : "サインインできませんでした。"), std::string::npos);
  }
}

TEST(OAuthToken, RequestBodies) {
  TokenForm f;
  f.clientId = "app";
  f.code = "4/0A+x";
  f.redirectUri = "http://127.0.0.1:5000/";
  f.codeVerifier = "v~";
  EXPECT_EQ(tokenRequestBody(f),
            "grant_type=authorization_code&code=4%2F0A%2Bx&redirect_uri=http%3A%2F%2F127.0.0.1%3A5000%2F"
            "&client_id=app&code_verifier=v~");
  f.grant = TokenForm::Grant::RefreshToken;
  f.refreshToken = "r/1";
  f.clientSecret = "sec";
  EXPECT_EQ(tokenRequestBody(f), "grant_type=refresh_token&refresh_token=r%2F1&client_id=app&client_secret=sec");
  f.scope = "a b";
  EXPECT_EQ(tokenRequestBody(f),
            "grant_type=refresh_token&refresh_token=r%2F1&client_id=app&scope=a%20b&client_secret=sec");
}

TEST(OAuthToken, ParsesResponses) {
  const std::string deep = std::string(15, '[') + std::string(15, ']');
  const struct {
    std::string json;
    std::optional<TokenResponse> want;
  } cases[] = {
      {R"({"access_token":"at","token_type":"Bearer","expires_in":3599,"refresh_token":"rt","id_token":"it"})",
       TokenResponse{"at", "rt", "it", "", "", 3599}},
      {R"( {"error":"invalid_grant","error_description":"expired","expires_in":"60"} )",
       TokenResponse{"", "", "", "invalid_grant", "expired", 60}},
      {R"({"error_description":"\"\\\/\b\f\n\r\t\u00e9\u3042\ud83d\ude00"})",
       TokenResponse{"", "", "", "", "\"\\/\b\f\n\r\t\xc3\xa9\xe3\x81\x82\xf0\x9f\x98\x80", 0}},
      {R"({"x":{"a":[1,-2.5e+3,true,false,null,{"access_token":"no"}],"b":{}},"access_token":"yes"})",
       TokenResponse{"yes", "", "", "", "", 0}},
      {"{\"x\":" + deep + ",\"access_token\":\"a\"}", TokenResponse{"a", "", "", "", "", 0}},
      {"{}", TokenResponse{}},
      {"{\"x\":[" + deep + "]}", std::nullopt},  // 17 levels
      {R"({"access_token":"a",})", std::nullopt},
      {R"({"access_token":"a"} x)", std::nullopt},
      {R"({"access_token":"a","access_token":"b"})", std::nullopt},
      {R"({"access_token":1})", std::nullopt},
      {R"({"expires_in":-1})", std::nullopt},
      {R"({"x":01})", std::nullopt},
      {R"({"x":tru})", std::nullopt},
      {R"({"x":"\ud83d"})", std::nullopt},
      {R"({"x":"\q"})", std::nullopt},
      {"{\"x\":\"a\nb\"}", std::nullopt},
      {R"(["access_token"])", std::nullopt},
      {R"({"access_token":"a")", std::nullopt},
      {"{\"x\":\"" + std::string(kMaxTokenResponse, 'a') + "\"}", std::nullopt},
  };
  for (const auto& k : cases) {
    const auto got = parseTokenResponse(k.json);
    ASSERT_EQ(got.has_value(), k.want.has_value()) << k.json.substr(0, 80);
    if (!got) continue;
    EXPECT_EQ(got->accessToken, k.want->accessToken);
    EXPECT_EQ(got->refreshToken, k.want->refreshToken);
    EXPECT_EQ(got->idToken, k.want->idToken);
    EXPECT_EQ(got->error, k.want->error);
    EXPECT_EQ(got->errorDescription, k.want->errorDescription);
    EXPECT_EQ(got->expiresIn, k.want->expiresIn);
  }
}

}  // namespace
}  // namespace tarvi::oauth
