// The one place that knows which dialogue an account's protocol speaks:
// the cycle asks here for a check, retrieve or delete dialogue and never
// names POP3 or IMAP itself.
#pragma once

#include <memory>
#include <vector>

#include "common/settings.h"
#include "monitor/imap/imap_sessions.h"
#include "monitor/net/dialogue.h"
#include "monitor/pop3/check_session.h"
#include "monitor/services/charset.h"
#include "monitor/services/list_store.h"
#include "monitor/state/monitor_state.h"

namespace tarvi {

inline constexpr const char16_t* kProtocolDamagedText =
    u"ｱｶｳﾝﾄの受信方式の設定が壊れているため、接続しませんでした。設定でｱｶｳﾝﾄを確認してください";

struct DialogueContext {
  const GeneralSettings& options;
  AccountTable& accounts;
  CharsetConverter& charsets;
  ListStore* lists;  // what was listed, kept across restarts
};

// Null for an account whose protocol setting is damaged.
std::unique_ptr<Dialogue> makeCheck(const AccountSettings& account, DialogueContext c, int a, CheckTotals& totals);
std::unique_ptr<Dialogue> makeRetrieve(const AccountSettings& account, DialogueContext c, int a,
                                       std::vector<int>& changed);
// `notices`: what the user is told after the run (a server that could only
// flag the messages).
std::unique_ptr<Dialogue> makeDelete(const AccountSettings& account, DialogueContext c, int a,
                                     std::vector<int>& changed, std::vector<Text>& notices);

// Whether the account keeps a connection that waits to be told of new mail.
bool pushes(const AccountSettings& account);
// That connection for account `a`, or null where pushes() is false.
std::unique_ptr<Dialogue> makePush(const AccountSettings& account, int a, PushListener& listener);

}  // namespace tarvi
