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
  return extractSender(part) == item.sender && extractSubject(part) == item.subject;
}

bool RetrieveSession::isTarget(const AccountTable& accounts, int a, int m) {
  const AccountState* r = accounts.find(a);
  const MailItem* item = r ? r->mail.find(m) : nullptr;
  return item && item->marked && item->body.empty();
}

int RetrieveSession::nextTarget(const AccountTable& accounts, int a, int after) {
  const AccountState* r = accounts.find(a);
  if (!r) return 0;
  for (int m = after + 1; m <= r->mail.size(); ++m)
    if (isTarget(accounts, a, m)) return m;
  return 0;
}

void RetrieveSession::accepted(const Text&) {
  const AccountSettings& a = conn().account();
  switch (state_) {
    case State::Greeting:
      reqNo_ = nextTarget(accounts_, account_, 0);
      setState(State::UserSent);
      sendLine(u"USER " + a.user + u"\r\n");
      break;
    case State::UserSent:
      setState(State::PassSent);
      sendLine(u"PASS " + a.password + u"\r\n");
      break;
    case State::PassSent:
      // The marks may have gone while logging in (a check cycle cleared
      // them): then there is nothing to ask for.
      if (!isTarget(accounts_, account_, reqNo_)) reqNo_ = nextTarget(accounts_, account_, reqNo_);
      if (reqNo_ != 0)
        sendRetr();
      else
        quit();
      break;
    case State::RetrSent:
      sendLine(u"NOOP\r\n");
      break;
  }
}

void RetrieveSession::sendRetr() {
  endScan_ = 0;
  setState(State::RetrSent);
  sendMultiLine(u"RETR", decimal(reqNo_));
}

void RetrieveSession::multiLineProgress() {
  const std::string& bytes = conn().replies().bytes();
  const std::size_t from = endScan_ >= 4 ? endScan_ - 4 : 0;
  const std::size_t p = bytes.find("\r\n.\r\n", from);
  if (p == std::string::npos) {
    endScan_ = bytes.size();
    return;
  }
  retrComplete(p + 5);
}

void RetrieveSession::retrComplete(std::size_t end) {
  Text reply = cp932::decode(std::string_view(conn().replies().bytes()).substr(0, end));
  AccountState* r = accounts_.find(account_);
  MailItem* item = r ? r->mail.find(reqNo_) : nullptr;
  if (item && !sameListing(*item, reply)) {
    // Another message has this number now: its body must not be shown
    // under the listed sender and subject, nor the others fetched.
    changed_.push_back(account_);
    forgetSize(accounts_, account_);
    quit();
    return;
  }
  if (item) storeRetrieved(*item, reply);
  conn().log().add(reply + u"\r\n");
  const int next = nextTarget(accounts_, account_, reqNo_);
  if (next != 0) {
    reqNo_ = next;
    sendRetr();
  } else {
    quit();
  }
}

}  // namespace tarvi
