#include "monitor/pop3/retrieve_session.h"

#include "common/sign_in.h"

#include "common/cp932.h"
#include "monitor/mail/extract.h"

namespace tarvi {
bool sameListing(const MailItem& item, const Text& reply) {
  return messageIdentity(reply) == item.identity;
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
  setState(State::RetrSent);
  sendMultiLine(u"RETR", decimal(reqNo_));
}

void RetrieveSession::multiLineProgress() {
  if (conn().replies().multiLineEnded()) retrComplete();
}

void RetrieveSession::retrComplete() {
  const std::string_view bytes = conn().replies().multiLine();
  Text reply = cp932::decode(bytes);
  normalizeLineEnds(reply);
  AccountState* r = accounts_.find(account_);
  MailItem* item = r ? r->mail.find(reqNo_) : nullptr;
  if (item && !sameListing(*item, reply)) {
    // Another message has this number now: its body must not be shown
    // under the listed sender and subject, nor the others fetched.
    changed_.push_back(account_);
    relistQuietly(accounts_, account_);
    quit();
    return;
  }
  if (!options_.decodeAll) {
    if (item) storeRetrieved(*item, reply);
    conn().log().add(reply + u"\r\n");
  } else {
    if (item) storeRetrievedAll(*item, bytes, &charsets_);
    // The log keeps the header as it came and the text as it is shown,
    // not the encoded parts and attachments.
    const std::size_t headEnd = reply.find(u"\r\n\r\n");
    conn().log().add(reply.substr(0, headEnd == Text::npos ? reply.size() : headEnd + 4) +
                     (item ? item->body : Text()) + u"\r\n");
  }
  const int next = nextTarget(accounts_, account_, reqNo_);
  if (next != 0) {
    reqNo_ = next;
    sendRetr();
  } else {
    quit();
  }
}

}  // namespace tarvi
