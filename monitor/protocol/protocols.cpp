#include "monitor/protocol/protocols.h"

#include "monitor/imap/imap_sessions.h"
#include "monitor/pop3/delete_session.h"
#include "monitor/pop3/retrieve_session.h"

namespace tarvi {

std::unique_ptr<Dialogue> makeCheck(const AccountSettings& account, DialogueContext c, int a, CheckTotals& totals) {
  switch (account.protocol) {
    case kPop3: return std::make_unique<CheckSession>(c.options, c.accounts, a, totals, c.charsets, c.lists);
    case kImap: return std::make_unique<ImapCheck>(c.options, c.accounts, a, totals.mailTotal, c.charsets, c.lists);
    default: return nullptr;
  }
}

std::unique_ptr<Dialogue> makeRetrieve(const AccountSettings& account, DialogueContext c, int a,
                                       std::vector<int>& changed) {
  switch (account.protocol) {
    case kPop3: return std::make_unique<RetrieveSession>(c.options, c.accounts, a, changed, c.charsets);
    case kImap: return std::make_unique<ImapRetrieve>(c.options, c.accounts, a, changed, c.charsets);
    default: return nullptr;
  }
}

std::unique_ptr<Dialogue> makeDelete(const AccountSettings& account, DialogueContext c, int a,
                                     std::vector<int>& changed, std::vector<Text>& notices) {
  switch (account.protocol) {
    case kPop3: return std::make_unique<DeleteSession>(c.accounts, a, changed, c.options.fastCheck);
    case kImap: return std::make_unique<ImapDelete>(c.accounts, a, changed, notices);
    default: return nullptr;
  }
}

bool pushes(const AccountSettings& account) {
  return account.protocol == kImap && account.pushIdle && account.checked;
}

std::unique_ptr<Dialogue> makePush(const AccountSettings& account, int a, PushListener& listener) {
  if (!pushes(account)) return nullptr;
  return std::make_unique<ImapIdle>(a, listener);
}

}  // namespace tarvi
