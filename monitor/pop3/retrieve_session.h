// The retrieve run (SessionKind Retrieve): for every account with marked
// messages not yet retrieved, one connection with USER, PASS, one RETR per
// such message handed to subListSet2, QUIT; then the marks are cleared.
#pragma once

#include <functional>
#include <vector>

#include "monitor/cycle/check_cycle.h"
#include "monitor/mail/mail_list.h"
#include "monitor/pop3/check_session.h"
#include "monitor/pop3/pop3_session.h"
#include "monitor/pop3/transport.h"

namespace tarvi {

// What the retrieve and delete runs ask of the popup. Each is optional.
struct RunHooks {
  std::function<void(bool enabled)> setRetrDelEnabled;  // RetrBt, DelBt
  std::function<void(bool enabled)> setGridEnabled;     // lvwMailBox
  std::function<void()> refreshMarks;
  std::function<void(bool busy)> setBusyPointer;  // hourglass or the default
  std::function<Text()> caption;                  // the window's caption now
};

// Message numbers are only valid in the numbering the list was built from.
// These tell whether a message on the server is still the one listed.

// What a "TOP n 5" would have shown of a whole message: the status line
// and header, the blank line and at most five body lines.
Text topPart(const Text& message);
// True when `reply` (a TOP n 5 reply, or a whole message) shows the sender
// and subject the list holds for `item`.
bool sameListing(const MailItem& item, const Text& reply);

// The names of the accounts whose mailbox no longer matched the list, one
// per line, after `lead`; empty when there is none.
Text changedMailboxText(const Text& lead, const std::vector<Text>& accounts);

inline constexpr const char16_t* kRetrieveChanged =
    u"前回のﾁｪｯｸ後にｻｰﾊﾞのﾒｰﾙが変わったため、次のｱｶｳﾝﾄのﾒｰﾙは取得しませんでした"
    u"\r\nﾒｰﾙﾁｪｯｸの後でもう一度選択してください";

// The name of account `a` as the user knows it, for a message: its
// account name, or its number when it has none.
Text accountLabel(const MailForm& form, int a);

// Moves tally.accountIdx on to the next account for which `hasWork` holds
// and logs on to it with `kind`, the caption saying `doing` and the
// account's name, the buttons and the list greyed meanwhile. False when
// no account is left.
bool logonNextAccount(MailForm& form, Transport& transport, CheckCycle& cycle, CheckTally& tally,
                      const RunHooks& hooks, SessionKind kind, const char16_t* doing,
                      const std::function<bool()>& hasWork);

class RetrieveSession : public Pop3Session {
 public:
  static constexpr std::uint32_t kRetrInterval = 1000;

  RetrieveSession(MailForm& form, Transport& transport, CheckCycle& cycle, CheckTally& tally,
                  MailList& mailList);

  // The retrtimer and this handler of the transport.
  void install();

  void RetrBt_Click();
  void nextRetrieve();
  void retrtimer_Timer();

  void onFailure(const Text& message) override;

  bool running() const { return running_; }

  RunHooks hooks;
  int reqNo = 0;
  Text savedCaption;
  // Accounts left alone in this run because their mailbox had changed.
  std::vector<Text> changedAccounts;

 private:
  // sockState values of this session.
  // A RETR reply is read in the greeting's state; lastCmd tells them apart.
  enum : int { kGreeting = 0, kRetrSent = 0, kUserSent = 1, kPassSent = 3, kQuitSent = 6 };

  bool isTarget(int account, int msgno) const;
  int nextTarget(int after) const;
  void accepted(const Text& reply) override;
  void multiLineProgress() override;
  void retrComplete(std::size_t end);
  void sendRetr();
  void finishRun();

  MailForm& form_;
  CheckCycle& cycle_;
  CheckTally& tally_;
  MailList& mailList_;
  bool running_ = false;
  std::size_t endScan_ = 0;
};

}  // namespace tarvi
