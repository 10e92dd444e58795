#include "monitor/mail/mail_list.h"

#include <algorithm>

namespace tarvi {

void MessageList::clear(int messages) {
  items_.assign(static_cast<std::size_t>(std::clamp(messages, 0, kMaxMessages)), MailItem{});
}

bool MessageList::ensure(int messages) {
  if (messages > kMaxMessages) return false;
  if (messages > size()) items_.resize(static_cast<std::size_t>(messages));
  return true;
}

void MessageList::assign(std::vector<MailItem> items) {
  if (items.size() > static_cast<std::size_t>(kMaxMessages)) items.resize(kMaxMessages);
  items_ = std::move(items);
}

MailItem* MessageList::find(int msgno) {
  if (msgno < 1 || msgno > size()) return nullptr;
  return &items_[static_cast<std::size_t>(msgno - 1)];
}

const MailItem* MessageList::find(int msgno) const {
  return const_cast<MessageList*>(this)->find(msgno);
}

}  // namespace tarvi
