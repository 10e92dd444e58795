#include "monitor/pop3/delete_session.h"

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

void DeleteSession::accepted(const Text&) {
  const AccountSettings& a = conn().account();
  switch (state_) {
    case State::Greeting:
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
      sendTop();
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
  if (state_ != State::TopSent || quitSent()) return false;
  mailboxChanged();
  return true;
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
  if (!item || !sameListing(*item, reply)) {
    mailboxChanged();
  } else if (const int next = nextMarked(verifyNo_); next != 0) {
    verifyNo_ = next;
    sendTop();
  } else {
    // Every marked number still denotes its listed message; within this
    // session the server keeps the numbering.
    reqNo_ = nextMarked(0);
    if (AccountState* record = accounts_.find(account_)) record->quietNextCheck = true;
    sendDele();
  }
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
