// The access tokens of the accounts that sign in with a provider: held in
// memory only, renewed with the account's refresh token when they have
// expired or the server refused them. A refresh the provider refuses for
// good (invalid_grant) stops the account's logons until the user signs in
// again, which gives the account another refresh token.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/settings.h"
#include "monitor/services/services.h"
#include "monitor/services/token_service.h"

namespace tarvi {

inline constexpr const char16_t* kTokenRefused = u"ｻｲﾝｲﾝ先からｱｸｾｽﾄｰｸﾝを受け取れませんでした";

class TokenKeeper {
 public:
  // A token that expires within this is renewed before a logon sends it;
  // within half its lifetime for one that lives shorter than twice this,
  // so that a token is always used at least once.
  static constexpr std::uint64_t kExpiryMarginMs = 60000;

  TokenKeeper(TokenService* service, Timers& timers) : service_(service), timers_(timers) {}

  enum class Ready { Now, Waiting, Failed };
  struct Prepared {
    Ready ready = Ready::Failed;
    Text problem;         // Failed: what the account reports
    bool firstTell = true;  // false for a lost sign-in that was told of before
  };
  // Puts account n's access token into `a` when one is held and valid;
  // otherwise asks the provider for one (Waiting: the reply comes through
  // onReply). A renewal that failed is reported once, and the next logon
  // tries again.
  Prepared prepare(int n, AccountSettings& a);
  // The server refused the token account n sent: it is not sent again.
  void refused(int n);
  // A reply of the provider; the account it was for, 0 for none.
  int onReply(std::uint32_t request, const TokenReply& reply);

  // The accounts whose sign-in the provider refused, in account order.
  std::vector<int> lost() const;
  // A provider may hand out a new refresh token with each renewal: it is
  // used from then on, and given here to be stored.
  std::function<void(int n, const Text& refreshToken)> keepRefreshToken;

 private:
  struct Record {
    Text storedRefresh;   // the account's refresh token when last seen
    Text refresh;         // the one to renew with (a rotated one, later)
    std::string access;
    std::optional<std::uint64_t> renewAt;  // when it is to be renewed before use
    std::uint32_t request = 0;  // a renewal in flight
    bool lost = false;
    bool told = false;
    Text error;  // the last renewal failed: reported by the next prepare
  };

  TokenService* service_;
  Timers& timers_;
  std::map<int, Record> records_;
  std::uint32_t nextRequest_ = 1;
};

}  // namespace tarvi
