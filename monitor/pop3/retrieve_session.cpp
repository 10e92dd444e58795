#include "monitor/pop3/retrieve_session.h"

#include "common/cp932.h"
#include "monitor/mail/extract.h"

namespace tarvi {
namespace {

constexpr int kTopBodyLines = 5;

}  // namespace

Text topPart(const Text& message) {
  const std::size_t head = message.find(u"\r\n\r\n");
  if (head == Text::npos) return message;
  std::size_t end = head + 4;
  for (int i = 0; i < kTopBodyLines; ++i) {
    const std::size_t lf = message.find(u'\n', end);
    if (lf == Text::npos) return message;
    end = lf + 1;
  }
  return message.substr(0, end) + u".\r\n";
}

bool sameListing(const MailItem& item, const Text& reply) {
  const Text part = topPart(reply);
  return extractSender(part) == item.From && extractSubject(part) == item.Subject;
}

Text changedMailboxText(const Text& lead, const std::vector<Text>& accounts) {
  if (accounts.empty()) return {};
  Text s = lead;
  for (const Text& a : accounts) s += u"\r\n  " + a;
  return s;
}

Text accountLabel(const MailForm& form, int a) {
  const Text name = form.svc.store.read(u"Aname" + decimal(a), u"");
  return name.empty() ? decimal(a) : name;
}

bool logonNextAccount(MailForm& form, Transport& transport, CheckCycle& cycle, CheckTally& tally,
                      const RunHooks& hooks, SessionKind kind, const char16_t* doing,
                      const std::function<bool()>& hasWork) {
  for (;;) {
    form.timers.disable(TimerId::timeuptimer);
    if (tally.accountIdx >= form.opt.accountno) return false;
    ++tally.accountIdx;
    if (!hasWork()) continue;
    const int a = tally.accountIdx;
    const Text name = form.svc.store.read(u"Aname" + decimal(a), u"");
    form.svc.view.setCaption(Text(kAppTitle) + u" -" + doing + u":" + name + u"-");
    if (hooks.setRetrDelEnabled) hooks.setRetrDelEnabled(false);
    if (hooks.setGridEnabled) hooks.setGridEnabled(false);
    cycle.timeupCount = 1;
    form.timers.enable(TimerId::timeuptimer);
    form.loadadata(a);
    transport.logon(kind);
    return true;
  }
}

RetrieveSession::RetrieveSession(MailForm& form, Transport& transport, CheckCycle& cycle,
                                 CheckTally& tally, MailList& mailList)
    : Pop3Session(transport), form_(form), cycle_(cycle), tally_(tally), mailList_(mailList) {}

void RetrieveSession::install() {
  form_.timers.setInterval(TimerId::retrtimer, kRetrInterval);
  form_.timers.disable(TimerId::retrtimer);
  form_.timerHandlers[static_cast<int>(TimerId::retrtimer)] = [this] { retrtimer_Timer(); };
  t_.setHandler(SessionKind::Retrieve, this);
}

void RetrieveSession::RetrBt_Click() {
  if (hooks.setBusyPointer) hooks.setBusyPointer(true);
  savedCaption = hooks.caption ? hooks.caption() : Text(kAppTitle);
  cycle_.resetCheck();
  changedAccounts.clear();
  running_ = true;
  nextRetrieve();
}

bool RetrieveSession::isTarget(int account, int msgno) const {
  const MailItem* r = mailList_.find(account, msgno);
  return r && r->Marked != 0 && r->Body.empty();
}

int RetrieveSession::nextTarget(int after) const {
  for (int m = after + 1; m <= mailList_.messages(); ++m)
    if (isTarget(tally_.accountIdx, m)) return m;
  return 0;
}

void RetrieveSession::nextRetrieve() {
  if (!logonNextAccount(form_, t_, cycle_, tally_, hooks, SessionKind::Retrieve, u"メール取得中",
                        [this] { return nextTarget(0) != 0; }))
    finishRun();
}

void RetrieveSession::finishRun() {
  running_ = false;
  if (hooks.refreshMarks) hooks.refreshMarks();
  form_.svc.view.setCaption(savedCaption.empty() ? Text(kAppTitle) : savedCaption);
  // The marks are gone, so there is nothing left for the buttons to act on.
  if (hooks.setRetrDelEnabled) hooks.setRetrDelEnabled(false);
  if (hooks.setGridEnabled) hooks.setGridEnabled(true);
  if (hooks.setBusyPointer) hooks.setBusyPointer(false);
  const Text changed = changedMailboxText(kRetrieveChanged, changedAccounts);
  changedAccounts.clear();
  if (!changed.empty())
    form_.svc.dialogs.messageBox(changed, kAppTitle, MsgButtons::Ok, MsgIcon::Exclamation);
}

void RetrieveSession::retrtimer_Timer() {
  form_.timers.disable(TimerId::retrtimer);
  nextRetrieve();
}

void RetrieveSession::multiLineProgress() {
  const std::string& bytes = t_.recvBuf.bytes();
  const std::size_t from = endScan_ >= 4 ? endScan_ - 4 : 0;
  const std::size_t p = bytes.find("\r\n.\r\n", from);
  if (p == std::string::npos) {
    endScan_ = bytes.size();
    return;
  }
  retrComplete(p + 5);
}

void RetrieveSession::accepted(const Text&) {
  t_.armRead();
  t_.setPhase(kWriting);
  const AccountSettings& a = form_.cur;
  switch (t_.sockState) {
    case kGreeting:
      reqNo = nextTarget(0);
      t_.sockState = kUserSent;
      t_.subSend(u"USER " + a.Uname + u"\r\n");
      break;
    case kUserSent:
      t_.sockState = kPassSent;
      t_.subSend(u"PASS " + a.Passw + u"\r\n");
      break;
    case kPassSent:
      // The marks may have gone while logging in (a check cycle cleared
      // them): then there is nothing to ask for.
      if (!isTarget(tally_.accountIdx, reqNo)) reqNo = nextTarget(reqNo);
      if (reqNo != 0)
        sendRetr();
      else
        sendQuit(kQuitSent);
      break;
    case kQuitSent:
      t_.orderlyClose();
      return;
    default:
      t_.subSend(u"NOOP\r\n");
      break;
  }
  if (t_.connected()) t_.setPhase(kReading);
}

void RetrieveSession::sendRetr() {
  endScan_ = 0;
  sendMultiLine(kRetrSent, u"RETR", decimal(reqNo));
}

void RetrieveSession::retrComplete(std::size_t end) {
  Text reply = cp932::decode(std::string_view(t_.recvBuf.bytes()).substr(0, end));
  const int a = tally_.accountIdx;
  const MailItem* item = mailList_.find(a, reqNo);
  if (item && !sameListing(*item, reply)) {
    // Another message has this number now: its body must not be shown
    // under the listed sender and subject, nor the others fetched.
    changedAccounts.push_back(accountLabel(form_, a));
    sendQuit(kQuitSent);
    if (t_.connected()) t_.setPhase(kReading);
    return;
  }
  subListSet2(mailList_, a, reqNo, reply);
  if (form_.opt.Option8value != 0) t_.logText += reply + u"\r\n";
  t_.lastCmd.clear();
  const int next = nextTarget(reqNo);
  if (next != 0) {
    reqNo = next;
    sendRetr();
  } else {
    sendQuit(kQuitSent);
  }
  if (t_.connected()) t_.setPhase(kReading);
}

void RetrieveSession::onFailure(const Text& message) {
  if (message.empty()) return;
  t_.failureEnding(message, t_.sockState == kQuitSent, kQuitSent);
  form_.svc.view.setCaption(kAppTitle);
}

}  // namespace tarvi
