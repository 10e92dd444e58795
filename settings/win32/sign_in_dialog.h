// Signing an account in with its provider: the browser does the talking to
// the user, this small modal dialog waits for the redirect to come back to
// a loopback listener and exchanges the code for a refresh token.
#pragma once

#include <windows.h>

#include "common/settings.h"
#include "common/text.h"

namespace tarvi::settings::win32 {

struct SignInOutcome {
  bool ok = false;
  tarvi::Text refreshToken;  // when ok; the caller stores it (saveRefreshToken)
  tarvi::Text error;         // when not ok and not cancelled; already shown to the user
};

// Runs one sign-in for `account` (owner may be null); nothing is stored here.
SignInOutcome runSignIn(HWND owner, const tarvi::AccountSettings& account);

}  // namespace tarvi::settings::win32
