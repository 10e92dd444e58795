#include "monitor/pop3/delete_session.h"

#include "common/sign_in.h"

#include <algorithm>

#include "common/cp932.h"
#include "monitor/mail/extract.h"
#include "monitor/pop3/retrieve_session.h"

namespace tarvi {

int DeleteSession::nextMarked(const AccountTable& accounts, int a, int after) {
  const AccountState* r = accounts.find(a);
  if (!r) return 0;
  for (int m = after + 1; m <= r->mail.size(); ++m)
    if (r->mail.find(m)->marked) return m;
  return 0;
}

void DeleteSession::accepted(const Text& reply) {
  const AccountSettings& a = conn().account();
  switch (state_) {
    case State::Greeting:
      if (signsInWithToken(a)) {
        reqNo_ = nextMarked(0);
        setState(State::PassSent);
        startTokenLogon();
        break;
      }
      setState(State::UserSent);
      sendLine(u"USER " + a.user + u"\r\n");
      break;
    case State::UserSent:
      reqNo_ = nextMarked(0);
      setState(State::PassSent);
      sendLine(u"PASS " + a.password + u"\r\n");
      break;
    case State::PassSent:
      // Before the first DELE every marked number must still stand for the
      // message the user marked; mail that arrived since (appended at the
      // end) renumbers nothing and stops nobody.
      verifyNo_ = nextMarked(0);
      if (verifyNo_ == 0) {
        quit();  // the marks went while logging in: nothing to delete
        break;
      }
      byUid_ = byUid_ && everyMarkHasUid();
      sendCheck();
      break;
    case State::UidlSent:
      uidlReply(reply);
      break;
    case State::DeleSent:
      sendDele();
      break;
    case State::LastDeleSent:
      quit();
      break;
    case State::TopSent:
      sendLine(u"NOOP\r\n");
      break;
  }
}

bool DeleteSession::refusalHandled() {
  // A marked number the server no longer knows: the mailbox changed.
  if ((state_ != State::TopSent && state_ != State::UidlSent) || quitSent()) return false;
  mailboxChanged();
  return true;
}

bool DeleteSession::everyMarkHasUid() const {
  const AccountState* r = accounts_.find(account_);
  for (int m = nextMarked(0); m != 0; m = nextMarked(m))
    if (!r || r->mail.find(m)->uid.empty()) return false;
  return true;
}

void DeleteSession::sendCheck() {
  if (!byUid_) {
    sendTop();
    return;
  }
  setState(State::UidlSent);
  sendLine(u"UIDL " + decimal(verifyNo_) + u"\r\n");
}

void DeleteSession::uidlReply(const Text& reply) {
  // "+OK n id": the number asked for, then the id the list holds for it.
  std::vector<Text> words;
  std::size_t at = 0;
  while (at < reply.size()) {
    const std::size_t end = std::min(reply.find_first_of(u" \t\r\n", at), reply.size());
    if (end > at) words.push_back(reply.substr(at, end - at));
    at = end + 1;
  }
  const AccountState* r = accounts_.find(account_);
  const MailItem* item = r ? r->mail.find(verifyNo_) : nullptr;
  if (item && !item->uid.empty() && words.size() == 3 && words[1] == decimal(verifyNo_) &&
      words[2] == ascii(item->uid))
    sendTop();
  else
    mailboxChanged();
}

void DeleteSession::verified(bool same) {
  if (!same) {
    mailboxChanged();
  } else if (const int next = nextMarked(verifyNo_); next != 0) {
    verifyNo_ = next;
    sendCheck();
  } else {
    // Every marked number still denotes its listed message; within this
    // session the server keeps the numbering.
    reqNo_ = nextMarked(0);
    if (AccountState* record = accounts_.find(account_)) record->quietNextCheck = true;
    sendDele();
  }
}

void DeleteSession::sendTop() {
  setState(State::TopSent);
  sendMultiLine(u"TOP", decimal(verifyNo_) + u" 0");
}

void DeleteSession::multiLineProgress() {
  ReplyBuffer& buf = conn().replies();
  if (!buf.multiLineEnded()) return;
  Text reply = cp932::decode(buf.multiLine());
  normalizeLineEnds(reply);
  const AccountState* r = accounts_.find(account_);
  const MailItem* item = r ? r->mail.find(verifyNo_) : nullptr;
  verified(item && sameListing(*item, reply));
}

void DeleteSession::sendDele() {
  const Text command = u"DELE " + decimal(reqNo_) + u"\r\n";
  const int next = nextMarked(reqNo_);
  if (next != 0) {
    reqNo_ = next;
    setState(State::DeleSent);
  } else {
    setState(State::LastDeleSent);
  }
  sendLine(command);
}

void DeleteSession::mailboxChanged() {
  changed_.push_back(account_);
  relistQuietly(accounts_, account_);
  quit();
}

}  // namespace tarvi
