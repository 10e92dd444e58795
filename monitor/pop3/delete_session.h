// The delete session: USER, PASS, DELE per marked message in ascending
// order, QUIT. Before the first DELE it makes sure the server still numbers
// its messages as the list does, so that no other message is lost.
#pragma once

#include <vector>

#include "monitor/pop3/session.h"
#include "monitor/state/monitor_state.h"

namespace tarvi {

class DeleteSession : public Session {
 public:
  // The number of the account goes into `changed` when its mailbox no
  // longer matches the list (then nothing is deleted there).
  DeleteSession(AccountTable& accounts, int account, std::vector<int>& changed)
      : accounts_(accounts), account_(account), changed_(changed) {}

  // The first marked message of account a after `after`, 0 when none.
  static int nextMarked(const AccountTable& accounts, int a, int after);

 private:
  enum class State {
    Greeting,
    UserSent,
    PassSent,
    StatSent,  // the numbering is being checked: STAT, then
    TopSent,   // TOP n 5 of every marked message
    DeleSent,  // a DELE sent; another follows
    LastDeleSent,
  };
  void setState(State s) { state_ = s; }

  void accepted(const Text& reply) override;
  void multiLineProgress() override;
  void statReply(const Text& reply);
  void sendTop();
  void sendDele();
  void mailboxChanged();
  int nextMarked(int after) const { return nextMarked(accounts_, account_, after); }

  AccountTable& accounts_;
  int account_;
  std::vector<int>& changed_;
  State state_ = State::Greeting;
  int reqNo_ = 0;
  int verifyNo_ = 0;
};

}  // namespace tarvi
