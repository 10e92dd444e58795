// The retrieve run (SessionKind Retrieve): for every account with marked
// messages not yet retrieved, one connection with USER, PASS, one RETR per
// such message handed to subListSet2, QUIT; then the marks are cleared.
#pragma once

#include <functional>
#include <vector>

#include "monitor/cycle/check_cycle.h"
#include "monitor/mail/mail_list.h"
#include "monitor/pop3/check_session.h"
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

class RetrieveSession : public SessionHandler {
 public:
  static constexpr std::uint32_t kRetrInterval = 1000;

  RetrieveSession(MailForm& form, Transport& transport, CheckCycle& cycle, CheckTally& tally,
                  MailList& mailList);

  // The retrtimer and this handler of the transport.
  void install();

  void RetrBt_Click();
  void nextRetrieve();
  void retrtimer_Timer();

  void onReceived() override;
  void onFailure(const Text& message) override;

  bool running() const { return running_; }

  RunHooks hooks;
  int reqNo = 0;
  Text savedCaption;
  // Accounts left alone in this run because their mailbox had changed.
  std::vector<Text> changedAccounts;

 private:
  bool isTarget(int account, int msgno) const;
  int nextTarget(int after) const;
  void accepted();
  void retrComplete(std::size_t end);
  void sendRetr();
  void sendQuit();
  void finishRun();

  MailForm& form_;
  Transport& t_;
  CheckCycle& cycle_;
  CheckTally& tally_;
  MailList& mailList_;
  bool running_ = false;
  bool statusSeen_ = false;
  std::size_t endScan_ = 0;
};

}  // namespace tarvi
