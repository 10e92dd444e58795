// The delete session: USER, PASS, DELE per marked message in ascending
// order, QUIT. Before the first DELE it asks TOP n 0 of every marked
// message and deletes only when each is still the message the list holds
// under its number, so that no other message is ever lost. Where the fast
// check listed every marked message with its unique id, UIDL n of each
// comes first: the server's id for the number must be the one listed too
// (an id alone proves nothing on servers that number their ids by
// position).
#pragma once

#include <vector>

#include "monitor/pop3/session.h"
#include "monitor/state/monitor_state.h"

namespace tarvi {

class DeleteSession : public Session {
 public:
  // The number of the account goes into `changed` when its mailbox no
  // longer matches the list (then nothing is deleted there).
  // `byUid`: check by unique id where every marked message has one.
  DeleteSession(AccountTable& accounts, int account, std::vector<int>& changed, bool byUid = false)
      : accounts_(accounts), account_(account), changed_(changed), byUid_(byUid) {}

  // The first marked message of account a after `after`, 0 when none.
  static int nextMarked(const AccountTable& accounts, int a, int after);

 private:
  enum class State {
    Greeting,
    UserSent,
    PassSent,
    TopSent,  // the marked messages are being checked
    UidlSent,  // the same, by unique id
    DeleSent,  // a DELE sent; another follows
    LastDeleSent,
  };
  void setState(State s) { state_ = s; }

  void accepted(const Text& reply) override;
  bool refusalHandled() override;
  void multiLineProgress() override;
  void sendTop();
  void sendCheck();
  void uidlReply(const Text& reply);
  bool everyMarkHasUid() const;
  void sendDele();
  void mailboxChanged();
  // The marked message under check still is the one listed (or not): check
  // the next, or delete them all, or delete nothing.
  void verified(bool same);
  int nextMarked(int after) const { return nextMarked(accounts_, account_, after); }

  AccountTable& accounts_;
  int account_;
  std::vector<int>& changed_;
  State state_ = State::Greeting;
  int reqNo_ = 0;
  int verifyNo_ = 0;
  bool byUid_;
};

}  // namespace tarvi
