#include "monitor/pop3/check_session.h"

#include "common/sign_in.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "common/cp932.h"
#include "monitor/mail/extract.h"
#include "monitor/pop3/retrieve_session.h"
#include "monitor/net/sock_err.h"
#include "monitor/state/kept_list.h"

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

namespace {

// The lines of a multi-line reply between its status line and its end
// line, each without its line end.
template <class Fn>
void forEachLine(std::string_view reply, Fn fn) {
  std::size_t at = reply.find('\n');
  if (at == std::string_view::npos) return;
  ++at;
  while (at < reply.size()) {
    std::size_t lf = reply.find('\n', at);
    if (lf == std::string_view::npos) lf = reply.size();
    std::string_view line = reply.substr(at, lf - at);
    at = lf + 1;
    while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line == ".") return;
    if (!line.empty() && line.front() == '.') line.remove_prefix(1);  // dot-stuffing
    if (!fn(line)) return;
  }
}

bool isSpace(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::optional<std::vector<std::string>> parseUidl(std::string_view reply, int count,
                                                  std::int64_t limit) {
  std::vector<std::string> uids(static_cast<std::size_t>(std::max(count, 0)));
  bool ok = true;
  int listed = 0;
  forEachLine(reply, [&](std::string_view line) {
    while (!line.empty() && isSpace(line.back())) line.remove_suffix(1);
    std::size_t i = 0;
    std::int64_t n = 0;
    while (i < line.size() && line[i] >= '0' && line[i] <= '9' && n <= limit) n = n * 10 + (line[i++] - '0');
    const std::size_t digits = i;
    while (i < line.size() && isSpace(line[i])) ++i;
    const std::string_view uid = line.substr(i);
    if (digits == 0 || i == digits || n < 1 || n > limit || !validUid(uid)) return ok = false;
    if (n > count) return true;
    std::string& slot = uids[static_cast<std::size_t>(n - 1)];
    if (!slot.empty()) return ok = false;
    slot = std::string(uid);
    ++listed;
    return true;
  });
  if (!ok || listed != count) return std::nullopt;
  // The ids must tell the messages apart; a server that repeats one could
  // have the wrong message taken for a known one.
  std::unordered_map<std::string_view, int> seen;
  for (int m = 0; m < count; ++m)
    if (!seen.emplace(uids[static_cast<std::size_t>(m)], m).second) return std::nullopt;
  return uids;
}

bool listsPipelining(std::string_view reply) {
  bool found = false;
  forEachLine(reply, [&](std::string_view line) {
    std::size_t end = 0;
    while (end < line.size() && !isSpace(line[end])) ++end;
    std::string word(line.substr(0, end));
    for (char& c : word) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    found = found || word == "PIPELINING";
    return true;
  });
  return found;
}

void CheckSession::accepted(const Text& reply) {
  const AccountSettings& a = conn().account();
  switch (state_) {
    case State::Greeting:
      if (signsInWithToken(a)) {
        setState(State::PassSent);
        startTokenLogon();
        break;
      }
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
    default:
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
    if (lists_) {
      // Nothing is left to remember; a list kept from before must not
      // make the mail that arrives next look known. An empty mailbox
      // checked again writes nothing.
      bool kept = r.listedIdentity != r.identity;
      for (int m = 1; m <= r.mail.size() && !kept; ++m) kept = !r.mail.find(m)->uid.empty();
      r.exactNew = true;
      r.listedIdentity = r.identity;
      r.mail.clear();
      if (kept) saveKeptList(*lists_, r.identity, r.mail);
    }
    quit();
  } else if (onlyChanges && stat->count == r.lastCount && stat->size == r.lastSize) {
    totals_.mailTotal += stat->count;
    quit();
  } else if (lists_) {
    loadKept_ = r.listedIdentity != r.identity;
    statCount_ = stat->count;
    r.listedIdentity = r.identity;
    totals_.mailTotal += stat->count;
    recordStat(r, *stat);
    fetchCount_ = static_cast<int>(std::min<std::int64_t>(stat->count, MessageList::kMaxMessages));
    setState(State::UidlSent);
    sendMultiLine(u"UIDL", u"");
  } else {
    if (!(onlyChanges && r.quietNextCheck)) r.newMail = true;
    r.listedIdentity = r.identity;
    totals_.mailTotal += stat->count;
    recordStat(r, *stat);
    fetchCount_ = static_cast<int>(std::min<std::int64_t>(stat->count, MessageList::kMaxMessages));
    r.mail.ensure(fetchCount_);
    topNo_ = 1;
    sendTop();
  }
}

void CheckSession::recordStat(AccountState& r, const StatReply& stat) {
  r.lastCount = stat.count;
  // The size is what "report only changes" compares; it stands only once
  // the listing is complete, so that a session cut short after STAT is
  // repeated in full next time rather than found unchanged.
  r.lastSize = -1;
  statSize_ = stat.size;
}

void CheckSession::listingComplete() {
  if (AccountState* r = accounts_.find(account_)) r->lastSize = statSize_;
}

bool CheckSession::refusalHandled() {
  if (quitSent()) return false;
  switch (state_) {
    case State::UidlSent:
      listByNumbers();
      return true;
    case State::CapaSent:
      pipelining_ = false;
      startFetching();
      return true;
    case State::VerifySent:
      relistAll();
      return true;
    default:
      return false;
  }
}

void CheckSession::listByNumbers() {
  AccountState* r = accounts_.find(account_);
  if (!r) {
    quit();
    return;
  }
  // Ids kept from before would be taken for those of the messages now
  // listed by number.
  if (loadKept_) r->mail.clear();
  for (int m = 1; m <= r->mail.size(); ++m) r->mail.find(m)->uid.clear();
  r->exactNew = false;
  if (!(options_.reportOnlyChanges && r->quietNextCheck)) r->newMail = true;
  r->mail.ensure(fetchCount_);
  topNo_ = 1;
  sendTop();
}

void CheckSession::uidlReply(std::string_view reply) {
  auto uids = parseUidl(reply, fetchCount_, statCount_);
  AccountState* r = accounts_.find(account_);
  if (!r) {
    quit();
    return;
  }
  if (!uids) {
    listByNumbers();
    return;
  }
  std::vector<MailItem> before = loadKept_ ? loadKeptList(*lists_, r->identity) : r->mail.release();
  std::size_t keptIds = 0;
  listedBefore_.clear();
  for (const MailItem& item : before) {
    keptIds += !item.uid.empty();
    if (!item.identity.empty()) listedBefore_.insert(item.identity);
  }

  // The list in the server's order: a known id takes what was listed of
  // it, whatever its number was.
  std::unordered_map<std::string_view, int> position;
  position.reserve(uids->size());
  for (int m = 0; m < fetchCount_; ++m) position.emplace((*uids)[static_cast<std::size_t>(m)], m);
  std::vector<MailItem> items(static_cast<std::size_t>(std::max(fetchCount_, MessageList::kInitialMessages)));
  std::vector<bool> known(static_cast<std::size_t>(fetchCount_), false);
  std::size_t carried = 0;
  bool moved = false;
  verifyNo_ = 0;
  for (std::size_t i = 0; i < before.size(); ++i) {
    MailItem& old = before[i];
    if (old.uid.empty()) continue;
    auto at = position.find(old.uid);
    if (at == position.end() || known[static_cast<std::size_t>(at->second)]) continue;
    const auto m = static_cast<std::size_t>(at->second);
    moved = moved || m != i;
    known[m] = true;
    ++carried;
    verifyNo_ = std::max(verifyNo_, static_cast<int>(m) + 1);
    MailItem& item = items[m];
    item = std::move(old);
    item.marked = false;
    item.unseen = false;
  }
  toFetch_.clear();
  fetchUids_.clear();
  for (int m = 0; m < fetchCount_; ++m) {
    if (known[static_cast<std::size_t>(m)]) continue;
    toFetch_.push_back(m + 1);
    fetchUids_.push_back((*uids)[static_cast<std::size_t>(m)]);
  }
  r->mail.assign(std::move(items));
  r->exactNew = true;
  listChanged_ = !toFetch_.empty() || carried != keptIds || moved;
  if (verifyNo_ == 0) {
    listedBefore_.clear();
    fetchNew();
    return;
  }
  // Some servers number their ids by position, and a rebuilt mailbox may
  // hand out old ids again: an id alone does not prove the message is the
  // one listed under it. The message at the highest position carried is
  // looked at; wherever messages went and came before it, it is another
  // one now.
  uids_ = std::move(*uids);
  setState(State::VerifySent);
  sendMultiLine(u"TOP", decimal(verifyNo_) + u" 0");
}

void CheckSession::verifyReply(std::string_view bytes) {
  Text reply = cp932::decode(bytes);
  normalizeLineEnds(reply);
  AccountState* r = accounts_.find(account_);
  if (!r) {
    quit();
    return;
  }
  const MailItem* item = r->mail.find(verifyNo_);
  if (item && sameListing(*item, reply)) {
    listedBefore_.clear();
    uids_.clear();
    fetchNew();
  } else {
    relistAll();
  }
}

void CheckSession::relistAll() {
  // The ids cannot be trusted to name what was listed under them: every
  // message is listed again, with the id it has now, and what counts as
  // new is what was never listed before (by what the message is).
  AccountState* r = accounts_.find(account_);
  if (!r) {
    quit();
    return;
  }
  relisting_ = true;
  r->mail.clear(std::max(fetchCount_, MessageList::kInitialMessages));
  toFetch_.clear();
  for (int m = 1; m <= fetchCount_; ++m) toFetch_.push_back(m);
  fetchUids_ = std::move(uids_);
  uids_.clear();
  listChanged_ = true;
  fetchNew();
}

void CheckSession::fetchNew() {
  AccountState* r = accounts_.find(account_);
  // New is what was never listed; mail already announced, before a
  // restart too, is not announced again.
  if (r && !toFetch_.empty() && !relisting_) r->newMail = true;
  if (toFetch_.empty()) {
    fetchedAll();
  } else if (!capaAsked_) {
    capaAsked_ = true;
    setState(State::CapaSent);
    sendMultiLine(u"CAPA", u"");
  } else {
    startFetching();
  }
}

void CheckSession::startFetching() {
  nextAsk_ = nextReply_ = 0;
  inReply_ = false;
  if (pipelining_) {
    setState(State::Pipelined);
    // The reply read last (UIDL or CAPA) goes; from now on every reply is
    // dropped once read, since the next may follow it in the same bytes.
    conn().replies().clear();
    sendNextTops();
  } else {
    topNo_ = toFetch_[nextAsk_++];
    sendTop();
  }
}

void CheckSession::sendNextTops() {
  std::vector<Text> commands;
  std::size_t bytes = 0;
  while (nextAsk_ < toFetch_.size() && nextAsk_ - nextReply_ < static_cast<std::size_t>(kWindow)) {
    Text command = u"TOP " + decimal(toFetch_[nextAsk_]) + u" 5\r\n";
    if (!commands.empty() && bytes + command.size() > kWindowBytes) break;
    bytes += command.size();
    commands.push_back(std::move(command));
    ++nextAsk_;
  }
  // Counted as asked before the write: the replies may be read inside it.
  if (!commands.empty()) sendPipelined(commands);
}

void CheckSession::listed(int msgno, std::string_view bytes, const std::string* uid) {
  Text reply = cp932::decode(bytes);
  normalizeLineEnds(reply);
  conn().log().add(reply + u"\r\n\r\n");
  AccountState* r = accounts_.find(account_);
  MailItem* item = r ? r->mail.find(msgno) : nullptr;
  if (!item) return;
  if (options_.decodeAll)
    listTopReplyAll(*item, bytes, &charsets_);
  else
    listTopReply(*item, reply);
  if (uid) {
    // Only now is the id known: a check cut short leaves it to be asked
    // again next time.
    item->uid = *uid;
    item->unseen = !relisting_ || !listedBefore_.count(item->identity);
    if (relisting_ && item->unseen) r->newMail = true;
  }
}

void CheckSession::fetchedAll() {
  listingComplete();
  // QUIT first: the file is written while its reply is on the way, not
  // while the server waits. The connection outlives the pumping inside
  // quit(), since the notification that got here holds it.
  quit();
  const AccountState* r = accounts_.find(account_);
  if (r && listChanged_) saveKeptList(*lists_, r->identity, r->mail);
}

void CheckSession::readPipelined() {
  ReplyBuffer& buf = conn().replies();
  while (nextReply_ < nextAsk_) {
    if (!inReply_) {
      auto line = buf.firstLine();
      if (!line) break;
      if (line->find_first_not_of("\r\n") == std::string_view::npos) {
        buf.skipLine();  // a line end left over from the reply before
        continue;
      }
      if (replyStatus(*line) == ReplyStatus::Refused) {
        // The replies still on their way cannot be told from others once
        // one is missing: the connection is closed rather than quit.
        const Text message = cp932::decode(*line).substr(4);
        conn().fail(isNoError(message) ? Text(u"-ERR") : message, true);
        return;
      }
      inReply_ = true;
    }
    if (!buf.multiLineEnded()) break;
    const std::size_t i = nextReply_++;
    inReply_ = false;
    listed(toFetch_[i], buf.endedReply(), &fetchUids_[i]);
    buf.dropEndedReply();
  }
  if (nextReply_ == toFetch_.size()) {
    fetchedAll();
    return;
  }
  // The next window goes out while the replies of this one still come.
  if (nextAsk_ - nextReply_ <= static_cast<std::size_t>(kWindow / 2)) sendNextTops();
}

void CheckSession::multiLineProgress() {
  if (state_ == State::Pipelined) {
    readPipelined();
    return;
  }
  ReplyBuffer& buf = conn().replies();
  if (!buf.multiLineEnded()) return;
  switch (state_) {
    case State::UidlSent:
      uidlReply(buf.multiLine());
      return;
    case State::CapaSent:
      pipelining_ = listsPipelining(buf.multiLine());
      startFetching();
      return;
    case State::VerifySent:
      verifyReply(buf.multiLine());
      return;
    default:
      break;
  }
  if (lists_ && !toFetch_.empty()) {
    // One TOP at a time, for the ids not listed before.
    const std::size_t i = nextAsk_ - 1;
    listed(topNo_, buf.multiLine(), &fetchUids_[i]);
    if (nextAsk_ < toFetch_.size()) {
      topNo_ = toFetch_[nextAsk_++];
      sendTop();
    } else {
      fetchedAll();
    }
    return;
  }
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
    listingComplete();
    quit();
  }
}

}  // namespace tarvi
