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

RetrieveSession::RetrieveSession(MailForm& form, Transport& transport, CheckCycle& cycle,
                                 CheckTally& tally, MailList& mailList)
    : form_(form), t_(transport), cycle_(cycle), tally_(tally), mailList_(mailList) {}

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
  for (;;) {
    form_.timers.disable(TimerId::timeuptimer);
    if (tally_.accountIdx >= form_.opt.accountno) {
      finishRun();
      return;
    }
    ++tally_.accountIdx;
    if (nextTarget(0) == 0) continue;
    const int a = tally_.accountIdx;
    const Text name = form_.svc.store.read(u"Aname" + decimal(a), u"");
    form_.svc.view.setCaption(Text(kAppTitle) + u" -メール取得中:" + name + u"-");
    if (hooks.setRetrDelEnabled) hooks.setRetrDelEnabled(false);
    if (hooks.setGridEnabled) hooks.setGridEnabled(false);
    cycle_.timeupCount = 1;
    form_.timers.enable(TimerId::timeuptimer);
    form_.loadadata(a);
    t_.logon(SessionKind::Retrieve);
    return;
  }
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

void RetrieveSession::onReceived() {
  ReplyBuffer& buf = t_.recvBuf;
  if (t_.lastCmd != u"RETR") {
    for (;;) {
      auto line = buf.firstLine();
      if (!line) return;
      switch (replyStatus(*line)) {
        case ReplyStatus::Accepted:
          accepted();
          return;
        case ReplyStatus::Refused:
          onFailure(cp932::decode(*line).substr(4));
          return;
        case ReplyStatus::Other:
          buf.skipLine();
          break;
      }
    }
  }
  if (t_.sockState != 0) return;
  // Only the status line of the reply can refuse; every later line is
  // message text, whatever it begins with and however the bytes were cut.
  if (!statusSeen_) {
    auto line = buf.firstLine();
    if (!line) return;
    if (replyStatus(*line) == ReplyStatus::Refused) {
      onFailure(cp932::decode(*line).substr(4));
      return;
    }
    statusSeen_ = true;
  }
  const std::string& bytes = buf.bytes();
  const std::size_t from = endScan_ >= 4 ? endScan_ - 4 : 0;
  const std::size_t p = bytes.find("\r\n.\r\n", from);
  if (p == std::string::npos) {
    endScan_ = bytes.size();
    return;
  }
  retrComplete(p + 5);
}

void RetrieveSession::accepted() {
  t_.armRead();
  t_.setPhase(kWriting);
  const AccountSettings& a = form_.cur;
  switch (t_.sockState) {
    case 0:
      reqNo = nextTarget(0);
      t_.sockState = 1;
      t_.subSend(u"USER " + a.Uname + u"\r\n");
      break;
    case 1:
      t_.sockState = 3;
      t_.subSend(u"PASS " + a.Passw + u"\r\n");
      break;
    case 3:
      // The marks may have gone while logging in (a check cycle cleared
      // them): then there is nothing to ask for.
      if (!isTarget(tally_.accountIdx, reqNo)) reqNo = nextTarget(reqNo);
      if (reqNo != 0)
        sendRetr();
      else
        sendQuit();
      break;
    case 6:
      t_.orderlyClose();
      return;
    default:
      t_.subSend(u"NOOP\r\n");
      break;
  }
  if (t_.connected()) t_.setPhase(kReading);
}

void RetrieveSession::sendRetr() {
  t_.sockState = 0;
  t_.lastCmd = u"RETR";
  statusSeen_ = false;
  endScan_ = 0;
  t_.subSend(u"RETR " + decimal(reqNo) + u"\r\n");
}

void RetrieveSession::sendQuit() {
  t_.lastCmd.clear();
  t_.sockState = 6;
  t_.subSend(u"QUIT\r\n");
}

void RetrieveSession::retrComplete(std::size_t end) {
  Text reply = cp932::decode(std::string_view(t_.recvBuf.bytes()).substr(0, end));
  const int a = tally_.accountIdx;
  const MailItem* item = mailList_.find(a, reqNo);
  if (item && !sameListing(*item, reply)) {
    // Another message has this number now: its body must not be shown
    // under the listed sender and subject, nor the others fetched.
    Text name = form_.svc.store.read(u"Aname" + decimal(a), u"");
    changedAccounts.push_back(name.empty() ? decimal(a) : name);
    sendQuit();
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
    sendQuit();
  }
  if (t_.connected()) t_.setPhase(kReading);
}

void RetrieveSession::onFailure(const Text& message) {
  if (message.empty()) return;
  t_.failureEnding(message, t_.sockState == 6, 6);
  form_.svc.view.setCaption(kAppTitle);
}

}  // namespace tarvi
