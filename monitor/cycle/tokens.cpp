#include "monitor/cycle/tokens.h"

#include <algorithm>

#include "common/oauth.h"
#include "common/sign_in.h"

namespace tarvi {

TokenKeeper::Prepared TokenKeeper::prepare(int n, AccountSettings& a) {
  const auto provider = signInProvider(a);
  if (!provider) return {Ready::Failed, kNotSignedIn};
  if (Text problem = signInProblem(a); !problem.empty()) return {Ready::Failed, problem};
  if (a.refreshUnreadable || a.refreshToken.empty()) return {Ready::Failed, kNotSignedIn};
  Record& r = records_[n];
  if (r.storedRefresh != a.refreshToken) {
    // Signed in again (or another account under this number): nothing of
    // the former sign-in counts.
    r = Record{};
    r.storedRefresh = a.refreshToken;
    r.refresh = a.refreshToken;
  }
  if (r.lost) {
    const bool first = !r.told;
    r.told = true;
    return {Ready::Failed, kSignInAgain, first};
  }
  if (!r.error.empty()) {
    Text error;
    error.swap(r.error);
    return {Ready::Failed, error};
  }
  const auto now = timers_.nowMs();
  const bool fresh = !r.access.empty() && (!r.renewAt || (now && *now < *r.renewAt));
  if (fresh) {
    a.accessToken = r.access;
    return {Ready::Now, {}};
  }
  if (r.request != 0) return {Ready::Waiting, {}};
  if (!service_) return {Ready::Failed, kTokenRefused};
  oauth::TokenForm form;
  form.grant = oauth::TokenForm::Grant::RefreshToken;
  form.clientId = provider->clientId;
  form.clientSecret = provider->clientSecret;
  form.refreshToken = toUtf8(r.refresh);
  form.scope = provider->scope;
  r.request = nextRequest_++;
  r.access.clear();
  service_->post(r.request, provider->tokenUrl, oauth::tokenRequestBody(form));
  return {Ready::Waiting, {}};
}

void TokenKeeper::refused(int n) {
  auto it = records_.find(n);
  if (it == records_.end()) return;
  it->second.access.clear();
  it->second.renewAt.reset();
}

int TokenKeeper::onReply(std::uint32_t request, const TokenReply& reply) {
  for (auto& [n, r] : records_) {
    if (r.request != request || request == 0) continue;
    r.request = 0;
    const auto parsed = reply.status != 0 ? oauth::parseTokenResponse(reply.body) : std::nullopt;
    if (reply.status == 200 && parsed && !parsed->accessToken.empty()) {
      r.access = parsed->accessToken;
      r.renewAt.reset();
      if (const auto now = timers_.nowMs(); now && parsed->expiresIn > 0) {
        const auto lifetime = static_cast<std::uint64_t>(parsed->expiresIn) * 1000;
        r.renewAt = *now + lifetime - std::min(kExpiryMarginMs, lifetime / 2);
      }
      if (!parsed->refreshToken.empty() && fromUtf8(parsed->refreshToken) != r.refresh) {
        r.refresh = fromUtf8(parsed->refreshToken);
        if (keepRefreshToken) {
          keepRefreshToken(n, r.refresh);
          r.storedRefresh = r.refresh;  // what the settings hold from now on
        }
      }
      return n;
    }
    if (reply.status >= 400 && reply.status < 500 && parsed && parsed->error == "invalid_grant") {
      r.lost = true;
      return n;
    }
    Text detail = !reply.error.empty()         ? reply.error
                  : parsed && !parsed->error.empty() ? fromUtf8(parsed->error)
                                                     : u"HTTP " + decimal(reply.status);
    r.error = Text(kTokenRefused) + u"\r\n" + detail;
    return n;
  }
  return 0;
}

std::vector<int> TokenKeeper::lost() const {
  std::vector<int> out;
  for (const auto& [n, r] : records_)
    if (r.lost) out.push_back(n);
  return out;
}

}  // namespace tarvi
