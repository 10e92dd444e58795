// The retrieve session: USER, PASS, one RETR per marked message not yet
// retrieved, each handed to storeRetrievedAll (storeRetrieved when
// options.decodeAll is off), QUIT.
#pragma once

#include <vector>

#include "monitor/pop3/session.h"
#include "monitor/services/charset.h"
#include "monitor/state/monitor_state.h"

namespace tarvi {

// Message numbers are only valid in the numbering the list was built from:
// true when `reply` (a TOP reply, or a whole message) is the message the
// list holds as `item`.
bool sameListing(const MailItem& item, const Text& reply);

class RetrieveSession : public Session {
 public:
  // The number of the account goes into `changed` when its mailbox no
  // longer matches the list.
  RetrieveSession(const GeneralSettings& options, AccountTable& accounts, int account,
                  std::vector<int>& changed, CharsetConverter& charsets)
      : options_(options), accounts_(accounts), account_(account), changed_(changed),
        charsets_(charsets) {}

  // True when message m of account a is marked and not yet retrieved.
  static bool isTarget(const AccountTable& accounts, int a, int m);
  // The first such message after `after`, 0 when there is none.
  static int nextTarget(const AccountTable& accounts, int a, int after);

 private:
  enum class State { Greeting, UserSent, PassSent, RetrSent };
  void setState(State s) { state_ = s; }

  void accepted(const Text& reply) override;
  void multiLineProgress() override;
  void retrComplete();
  void sendRetr();

  const GeneralSettings& options_;
  AccountTable& accounts_;
  int account_;
  std::vector<int>& changed_;
  CharsetConverter& charsets_;
  State state_ = State::Greeting;
  int reqNo_ = 0;
};

}  // namespace tarvi
