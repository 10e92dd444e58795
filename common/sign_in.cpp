#include "common/sign_in.h"

#include "common/oauth.h"

#ifndef TARVI_MICROSOFT_CLIENT_ID
#define TARVI_MICROSOFT_CLIENT_ID ""
#endif
#ifndef TARVI_GOOGLE_CLIENT_ID
#define TARVI_GOOGLE_CLIENT_ID ""
#endif
#ifndef TARVI_GOOGLE_CLIENT_SECRET
#define TARVI_GOOGLE_CLIENT_SECRET ""
#endif

namespace tarvi {

std::string builtInClientId(SignIn provider) {
  switch (provider) {
    case kMicrosoftSignIn: return TARVI_MICROSOFT_CLIENT_ID;
    case kGoogleSignIn: return TARVI_GOOGLE_CLIENT_ID;
    default: return {};
  }
}

std::optional<SignInProvider> signInProvider(const AccountSettings& a) {
  SignInProvider p;
  const bool imap = a.protocol == kImap;
  switch (a.signIn) {
    case kMicrosoftSignIn:
      p.authorizeUrl = "https://login.microsoftonline.com/common/oauth2/v2.0/authorize";
      p.tokenUrl = "https://login.microsoftonline.com/common/oauth2/v2.0/token";
      p.scope = std::string(imap ? "https://outlook.office.com/IMAP.AccessAsUser.All"
                                 : "https://outlook.office.com/POP.AccessAsUser.All") +
                " offline_access";
      break;
    case kGoogleSignIn:
      p.authorizeUrl = "https://accounts.google.com/o/oauth2/v2/auth";
      p.tokenUrl = "https://oauth2.googleapis.com/token";
      p.scope = "https://mail.google.com/";
      break;
    case kOtherSignIn:
      p.authorizeUrl = toUtf8(a.oauthAuthorizeUrl);
      p.tokenUrl = toUtf8(a.oauthTokenUrl);
      p.scope = toUtf8(a.oauthScope);
      break;
    default:
      return std::nullopt;
  }
  p.clientId = a.oauthClient.empty() ? builtInClientId(static_cast<SignIn>(a.signIn)) : toUtf8(a.oauthClient);
  if (a.signIn == kGoogleSignIn && a.oauthClient.empty()) p.clientSecret = TARVI_GOOGLE_CLIENT_SECRET;
  return p;
}

Text signInProblem(const AccountSettings& a) {
  const auto p = signInProvider(a);
  if (!p) return {};
  if (!oauth::acceptedEndpoint(p->authorizeUrl) || !oauth::acceptedEndpoint(p->tokenUrl)) return kBadEndpoint;
  if (p->clientId.empty()) return kNoClientId;
  return {};
}

std::string xoauth2Response(std::string_view user, std::string_view token) {
  std::string s = "user=";
  s += user;
  s += "\x01" "auth=Bearer ";
  s += token;
  s += "\x01\x01";
  return s;
}

std::string oauthBearerResponse(std::string_view user, std::string_view host, int port, std::string_view token) {
  std::string name;
  for (char c : user) {
    if (c == ',')
      name += "=2C";
    else if (c == '=')
      name += "=3D";
    else
      name += c;
  }
  std::string s = "n,a=" + name + ",\x01" "host=";
  s += host;
  s += "\x01" "port=" + std::to_string(port) + "\x01" "auth=Bearer ";
  s += token;
  s += "\x01\x01";
  return s;
}

std::string saslErrorAnswer(bool oauthBearer) { return oauthBearer ? std::string("\x01") : std::string(); }

}  // namespace tarvi
