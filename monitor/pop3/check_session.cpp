#include "monitor/pop3/check_session.h"

#include <algorithm>

#include "common/cp932.h"
#include "monitor/mail/extract.h"

namespace tarvi {

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

void CheckSession::accepted(const Text& reply) {
  const AccountSettings& a = conn().account();
  switch (state_) {
    case State::Greeting:
      setState(State::UserSent);
      sendLine(u"USER " + a.user + u"\r\n");
      break;
    case State::UserSent:
      setState(State::PassSent);
      sendLine(u"PASS " + a.password + u"\r\n");
      break;
    case State::PassSent:
      setState(State::StatSent);
      sendLine(u"STAT\r\n");
      break;
    case State::StatSent:
      statReply(reply);
      break;
    case State::TopSent:
      sendLine(u"NOOP\r\n");
      break;
  }
}

void CheckSession::sendTop() {
  setState(State::TopSent);
  sendMultiLine(u"TOP", decimal(topNo_) + u" 5");
}

void CheckSession::statReply(const Text& reply) {
  auto stat = parseStat(reply);
  if (!stat) {
    failed(kBadStat);
    return;
  }
  AccountState* record = accounts_.find(account_);
  if (!record) {  // the account is gone
    quit();
    return;
  }
  AccountState& r = *record;
  const bool onlyChanges = options_.reportOnlyChanges;
  if (stat->count == 0) {
    r.lastCount = 0;
    quit();
  } else if (onlyChanges && stat->count == r.lastCount && stat->size == r.lastSize) {
    totals_.mailTotal += stat->count;
    quit();
  } else {
    if (!(onlyChanges && r.quietNextCheck)) r.newMail = true;
    r.listedIdentity = r.identity;
    totals_.mailTotal += stat->count;
    r.lastCount = stat->count;
    r.lastSize = stat->size;
    fetchCount_ = static_cast<int>(std::min<std::int64_t>(stat->count, MessageList::kMaxMessages));
    r.mail.ensure(fetchCount_);
    topNo_ = 1;
    sendTop();
  }
}

void CheckSession::multiLineProgress() {
  ReplyBuffer& buf = conn().replies();
  if (!buf.multiLineEnded()) return;
  Text reply = cp932::decode(buf.multiLine());
  normalizeLineEnds(reply);
  conn().log().add(reply + u"\r\n\r\n");
  AccountState* r = accounts_.find(account_);
  if (MailItem* item = r ? r->mail.find(topNo_) : nullptr) {
    if (options_.decodeAll)
      listTopReplyAll(*item, buf.multiLine(), &charsets_);
    else
      listTopReply(*item, reply);
  }
  if (topNo_ < fetchCount_) {
    ++topNo_;
    sendTop();
  } else {
    quit();
  }
}

}  // namespace tarvi
