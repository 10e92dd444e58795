#include "monitor/pop3/check_session.h"

#include <algorithm>

#include "common/cp932.h"
#include "monitor/mail/extract.h"

namespace tarvi {

void CheckTally::resize(int accounts) {
  const std::size_t n = static_cast<std::size_t>(std::max(accounts, 0)) + 1;
  if (newMailFlg.size() < n) newMailFlg.resize(n, false);
  if (lastCount.size() < n) lastCount.resize(n, 0);
  if (lastSize.size() < n) lastSize.resize(n, 0);
}

std::optional<StatReply> parseStat(const Text& reply) {
  // "+OK", a space, the count, a space, the size; anything after the size
  // is ignored.
  const std::size_t sp = reply.find(u' ');
  if (sp == Text::npos) return std::nullopt;
  Text rest = reply.substr(sp + 1);
  while (!rest.empty() && (rest.back() == u'\n' || rest.back() == u'\r')) rest.pop_back();
  const std::size_t sp2 = rest.find(u' ');
  if (sp2 == Text::npos) return std::nullopt;
  Text countText = rest.substr(0, sp2);
  Text sizeText = rest.substr(sp2 + 1);
  const std::size_t sp3 = sizeText.find(u' ');
  if (sp3 != Text::npos) sizeText.resize(sp3);
  auto digitsOnly = [](const Text& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; });
  };
  if (!digitsOnly(countText) || !digitsOnly(sizeText)) return std::nullopt;
  auto count = parseInteger(countText, 0, INT32_MAX);
  auto size = parseInteger(sizeText, 0, INT64_MAX);
  if (!count || !size) return std::nullopt;
  return StatReply{*count, *size};
}

CheckSession::CheckSession(Transport& transport, CheckTally& tally, MailList& mailList)
    : Pop3Session(transport), tally_(tally), mailList_(mailList) {}

void CheckSession::accepted(const Text& reply) {
  t_.armRead();
  t_.setPhase(kWriting);
  const AccountSettings& a = t_.form.cur;
  switch (t_.sockState) {
    case kGreeting:
      t_.sockState = kUserSent;
      t_.subSend(u"USER " + a.Uname + u"\r\n");
      break;
    case kUserSent:
      t_.sockState = kPassSent;
      t_.subSend(u"PASS " + a.Passw + u"\r\n");
      break;
    case kPassSent:
      t_.sockState = kStatSent;
      t_.subSend(u"STAT\r\n");
      break;
    case kStatSent:
      statReply(reply);
      return;
    case kQuitSent:
      t_.orderlyClose();
      return;
    default:
      t_.subSend(u"NOOP\r\n");
      break;
  }
  t_.setPhase(kReading);
}

void CheckSession::sendTop() { sendMultiLine(kTopSent, u"TOP", decimal(topNo) + u" 5"); }

void CheckSession::statReply(const Text& reply) {
  auto stat = parseStat(reply);
  if (!stat) {
    onFailure(kBadStat);
    return;
  }
  const int a = tally_.accountIdx;
  tally_.resize(std::max(a, static_cast<int>(t_.form.opt.accountno)));
  msgCount = stat->count;
  boxSize = stat->size;
  const bool keepLast = t_.form.opt.Option6value != 0;
  if (msgCount == 0) {
    tally_.lastCount[a] = 0;
    sendQuit(kQuitSent);
  } else if (keepLast && msgCount == tally_.lastCount[a] && boxSize == tally_.lastSize[a]) {
    tally_.mailTotal += msgCount;
    sendQuit(kQuitSent);
  } else {
    if (!(keepLast && tally_.noNotify != 0)) tally_.newMailFlg[a] = true;
    tally_.mailTotal += msgCount;
    tally_.lastCount[a] = msgCount;
    tally_.lastSize[a] = boxSize;
    fetchCount = static_cast<int>(std::min<std::int64_t>(msgCount, MailList::kMaxMessages));
    mailList_.ensureAccounts(std::max(a, static_cast<int>(t_.form.opt.accountno)));
    if (mailList_.messages() < fetchCount) mailList_.ensureMessages(fetchCount);
    topNo = 1;
    sendTop();
  }
  if (t_.connected()) t_.setPhase(kReading);
}

void CheckSession::multiLineProgress() {
  if (!t_.recvBuf.multiLineEnded()) return;
  const Text reply = cp932::decode(t_.recvBuf.multiLine());
  if (t_.form.opt.Option8value != 0) t_.logText += reply + u"\r\n\r\n";
  subListSet(mailList_, tally_.accountIdx, topNo, reply);
  if (topNo < fetchCount) {
    ++topNo;
    sendTop();
  } else {
    sendQuit(kQuitSent);
  }
  if (t_.connected()) t_.setPhase(kReading);
}

void CheckSession::onFailure(const Text& message) {
  if (message.empty()) return;
  t_.failureEnding(message, t_.sockState == kQuitSent, kQuitSent);
}

}  // namespace tarvi
