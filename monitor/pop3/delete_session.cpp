#include "monitor/pop3/delete_session.h"

#include "common/cp932.h"

namespace tarvi {

DeleteSession::DeleteSession(MailForm& form, Transport& transport, CheckCycle& cycle,
                             CheckTally& tally, MailList& mailList)
    : Pop3Session(transport), form_(form), cycle_(cycle), tally_(tally), mailList_(mailList) {}

void DeleteSession::install() {
  form_.timers.setInterval(TimerId::deltimer, kDelInterval);
  form_.timers.disable(TimerId::deltimer);
  form_.timerHandlers[static_cast<int>(TimerId::deltimer)] = [this] { deltimer_Timer(); };
  t_.setHandler(SessionKind::Delete, this);
}

void DeleteSession::DelBt_Click() {
  const MsgAnswer answer = form_.svc.dialogs.messageBox(kDeleteQuestion, kAppTitle,
                                                        MsgButtons::YesNo, MsgIcon::None, true);
  if (answer != MsgAnswer::Yes) return;
  if (hooks.setBusyPointer) hooks.setBusyPointer(true);
  cycle_.resetCheck();
  changedAccounts.clear();
  nextDelete();
}

int DeleteSession::nextMarked(int after) const {
  for (int m = after + 1; m <= mailList_.messages(); ++m) {
    const MailItem* r = mailList_.find(tally_.accountIdx, m);
    if (r && r->Marked != 0) return m;
  }
  return 0;
}

void DeleteSession::nextDelete() {
  verified_ = false;
  verifyNo_ = 0;
  quitAfterFailure_ = false;
  if (!logonNextAccount(form_, t_, cycle_, tally_, hooks, SessionKind::Delete, u"メール削除中",
                        [this] { return nextMarked(0) != 0; }))
    finishRun();
}

void DeleteSession::finishRun() {
  tally_.noNotify = 1;
  cycle_.newMailFlg_Clear();
  cycle_.checkmail();
  // Told after the check has started, so that the list is renewed while
  // the user reads.
  const Text changed = changedMailboxText(kDeleteChanged, changedAccounts);
  changedAccounts.clear();
  if (!changed.empty())
    form_.svc.dialogs.messageBox(changed, kAppTitle, MsgButtons::Ok, MsgIcon::Exclamation);
}

void DeleteSession::deltimer_Timer() {
  form_.timers.disable(TimerId::deltimer);
  nextDelete();
}

void DeleteSession::accepted(const Text& reply) {
  t_.armRead();
  t_.setPhase(kWriting);
  const AccountSettings& a = form_.cur;
  switch (t_.sockState) {
    case kGreeting:
      t_.sockState = kUserSent;
      t_.subSend(u"USER " + a.Uname + u"\r\n");
      break;
    case kUserSent:
      reqNo = nextMarked(0);
      t_.sockState = kDeleMore;
      t_.subSend(u"PASS " + a.Passw + u"\r\n");
      break;
    case kDeleMore:
      if (verified_) {
        sendDele();
      } else {
        t_.sockState = kStatSent;
        t_.subSend(u"STAT\r\n");
      }
      break;
    case kDeleLast:
      sendQuit(kQuitSent);
      break;
    case kQuitSent:
      t_.orderlyClose();
      return;
    case kStatSent:
      statReply(reply);
      break;
    default:
      t_.subSend(u"NOOP\r\n");
      break;
  }
  if (t_.connected()) t_.setPhase(kReading);
}

void DeleteSession::statReply(const Text& reply) {
  // The list holds messages 1..lastCount of the mailbox as the last check
  // saw it. Any other count or size means messages came or went since, and
  // a number may now stand for another message.
  const int a = tally_.accountIdx;
  const auto stat = parseStat(reply);
  const bool same = stat && a >= 0 && static_cast<std::size_t>(a) < tally_.lastCount.size() &&
                    static_cast<std::size_t>(a) < tally_.lastSize.size() &&
                    stat->count == tally_.lastCount[static_cast<std::size_t>(a)] &&
                    stat->size == tally_.lastSize[static_cast<std::size_t>(a)];
  if (!same) {
    mailboxChanged();
    return;
  }
  verifyNo_ = nextMarked(0);
  if (verifyNo_ == 0) {
    // The marks went while logging in: nothing to delete.
    sendQuit(kQuitSent);
    return;
  }
  sendTop();
}

void DeleteSession::sendTop() { sendMultiLine(kTopSent, u"TOP", decimal(verifyNo_) + u" 5"); }

void DeleteSession::multiLineProgress() {
  if (!t_.recvBuf.multiLineEnded()) return;
  const Text reply = cp932::decode(t_.recvBuf.multiLine());
  const MailItem* item = mailList_.find(tally_.accountIdx, verifyNo_);
  if (!item || !sameListing(*item, reply)) {
    mailboxChanged();
  } else if (const int next = nextMarked(verifyNo_); next != 0) {
    verifyNo_ = next;
    sendTop();
  } else {
    // Every marked number still denotes its listed message; within this
    // session the server keeps the numbering.
    verified_ = true;
    t_.lastCmd.clear();
    reqNo = nextMarked(0);
    sendDele();
  }
  if (t_.connected()) t_.setPhase(kReading);
}

void DeleteSession::sendDele() {
  const Text command = u"DELE " + decimal(reqNo) + u"\r\n";
  const int next = nextMarked(reqNo);
  if (next != 0) {
    reqNo = next;
    t_.sockState = kDeleMore;
  } else {
    t_.sockState = kDeleLast;
  }
  t_.subSend(command);
}

void DeleteSession::mailboxChanged() {
  changedAccounts.push_back(accountLabel(form_, tally_.accountIdx));
  sendQuit(kQuitSent);
}

void DeleteSession::onFailure(const Text& message) {
  if (message.empty()) return;
  // The deletions accepted so far take effect only with a QUIT, so one is
  // sent even after the last DELE; a refusal of that QUIT ends it.
  const bool closeNow = t_.sockState == kQuitSent || quitAfterFailure_;
  if (!closeNow && t_.connected()) quitAfterFailure_ = true;
  t_.failureEnding(message, closeNow, kDeleLast);
  form_.svc.view.setCaption(kAppTitle);
}

}  // namespace tarvi
