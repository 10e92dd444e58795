// A sign-in provider for the monitor's token renewals, and what the
// scripted servers need to take a token logon (SASL XOAUTH2, OAUTHBEARER).
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "monitor/services/token_service.h"
#include "tests/fakes/fake_pump.h"

namespace tarvi::fakes {

inline std::string decodeBase64ForTest(const std::string& in) {
  static const std::string abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  unsigned bits = 0, value = 0;
  for (char c : in) {
    const auto at = abc.find(c);
    if (at == std::string::npos) break;
    value = (value << 6) | static_cast<unsigned>(at);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((value >> bits) & 0xFF);
    }
  }
  return out;
}

// Whether a SASL response (Base64) carries `token` for `user`, in the form
// of XOAUTH2 ("user=") or of OAUTHBEARER ("n,a=").
inline bool bearerResponseCarries(const std::string& b64, const std::string& user, const std::string& token,
                                  bool oauthBearer) {
  const std::string s = decodeBase64ForTest(b64);
  const std::string who = oauthBearer ? "n,a=" + user + "," : "user=" + user + "\x01";
  return !token.empty() && s.rfind(who, 0) == 0 && s.find("\x01" "auth=Bearer " + token + "\x01\x01") != std::string::npos;
}

// The provider: refresh token "rt<n>" gives access tokens "at1", "at2", ...
// in turn; a refresh token in `revoked` is refused for good (invalid_grant);
// `down` makes every renewal fail as an unreachable server does. Replies
// come through the pump, never inside post().
struct FakeTokenService : TokenService {
  explicit FakeTokenService(FakePump& pump) : pump(pump) {}

  struct Post {
    std::uint32_t request;
    std::string url, body;
  };
  void post(std::uint32_t request, const std::string& url, const std::string& body) override {
    posts.push_back({request, url, body});
    // A keeper that asks again and again is a fault the tests count; it
    // must not also keep them running forever.
    if (hold || posts.size() > 50) return;
    TokenReply r = answer(body);
    pump.post([this, request, r] {
      if (deliver) deliver(request, r);
    });
  }
  TokenReply answer(const std::string& body) const {
    if (down) return {0, {}, u"ｻｲﾝｲﾝ先のｻｰﾊﾞに接続できませんでした"};
    for (const auto& rt : revoked)
      if (body.find("refresh_token=" + rt) != std::string::npos) return {400, R"({"error":"invalid_grant"})", {}};
    ++issued;
    return {200, R"({"access_token":"at)" + std::to_string(issued) + R"(","token_type":"Bearer","expires_in":)" +
                     std::to_string(lifetimeSeconds) + "}",
            {}};
  }

  FakePump& pump;
  std::function<void(std::uint32_t, const TokenReply&)> deliver;
  std::vector<Post> posts;
  std::set<std::string> revoked;
  mutable int issued = 0;
  int lifetimeSeconds = 3600;
  bool down = false;
  bool hold = false;  // no reply at all (a provider that never answers)
};

}  // namespace tarvi::fakes
