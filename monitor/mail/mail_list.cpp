#include "monitor/mail/mail_list.h"

#include <algorithm>
#include <stdexcept>

namespace tarvi {

void MailList::redim(int accounts, int messages) {
  accounts = std::max(accounts, 0);
  messages = std::clamp(messages, 0, kMaxMessages);
  rows_.assign(static_cast<std::size_t>(accounts),
               std::vector<MailItem>(static_cast<std::size_t>(messages)));
  messages_ = messages;
}

bool MailList::ensureMessages(int messages) {
  if (messages > kMaxMessages) return false;
  if (messages <= messages_) return true;
  for (auto& row : rows_) row.resize(static_cast<std::size_t>(messages));
  messages_ = messages;
  return true;
}

void MailList::ensureAccounts(int accounts) {
  if (accounts <= this->accounts()) return;
  rows_.resize(static_cast<std::size_t>(accounts),
               std::vector<MailItem>(static_cast<std::size_t>(messages_)));
}

MailItem* MailList::find(int account, int msgno) {
  if (!contains(account, msgno)) return nullptr;
  return &rows_[static_cast<std::size_t>(account - 1)][static_cast<std::size_t>(msgno - 1)];
}

const MailItem* MailList::find(int account, int msgno) const {
  return const_cast<MailList*>(this)->find(account, msgno);
}

MailItem& MailList::at(int account, int msgno) {
  MailItem* item = find(account, msgno);
  if (!item) throw std::out_of_range("mail table index");
  return *item;
}

const MailItem& MailList::at(int account, int msgno) const {
  return const_cast<MailList*>(this)->at(account, msgno);
}

}  // namespace tarvi
