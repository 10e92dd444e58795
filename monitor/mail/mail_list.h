// The mail table: one MailItem per account and POP3 message number, filled
// by the check and retrieve sessions and read by the popup and the viewer.
#pragma once

#include <cstdint>
#include <vector>

#include "common/text.h"

namespace tarvi {

struct MailItem {
  Text From;                 // decoded sender line
  Text Subject;              // decoded subject, folded lines joined
  std::int16_t Marked = 0;   // -1 when the row carries the mark, 0 otherwise
  bool HasAttach = false;    // multipart before retrieval, attachments after
  Text AttachNames;          // each name as "name" followed by one space
  Text Body;                 // decoded body; empty while not retrieved

  bool operator==(const MailItem&) const = default;
};

// A table of MailItem addressed by (account 1..accounts(), message
// 1..messages()). The message bound is shared by all accounts, as the
// popup walks every account up to the same bound. Enlarging keeps every
// record; only redim() discards them. Records are plain values: a
// reference obtained from at() is valid until the next enlargement.
class MailList {
 public:
  static constexpr int kInitialMessages = 10;
  // Message numbers travel as 16-bit values; a server that claims more
  // messages must not make the table swallow the machine's memory.
  static constexpr int kMaxMessages = 32767;

  MailList() = default;

  // Creates the table anew: accounts 1..accounts, messages 1..messages,
  // every record empty. Negative counts are taken as 0; messages is capped
  // at kMaxMessages.
  void redim(int accounts, int messages = kInitialMessages);

  // Raises the message bound to `messages`, keeping every record; never
  // shrinks. Returns false (and leaves the table alone) when `messages`
  // exceeds kMaxMessages.
  bool ensureMessages(int messages);

  // Raises the account bound to `accounts`, keeping every record; never
  // shrinks. New accounts get empty records up to the message bound.
  void ensureAccounts(int accounts);

  int accounts() const { return static_cast<int>(rows_.size()); }
  int messages() const { return messages_; }

  bool contains(int account, int msgno) const {
    return account >= 1 && account <= accounts() && msgno >= 1 && msgno <= messages_;
  }

  // The record, or nullptr when (account, msgno) lies outside the table.
  MailItem* find(int account, int msgno);
  const MailItem* find(int account, int msgno) const;

  // The record; throws std::out_of_range outside the table.
  MailItem& at(int account, int msgno);
  const MailItem& at(int account, int msgno) const;

 private:
  std::vector<std::vector<MailItem>> rows_;  // rows_[account - 1][msgno - 1]
  int messages_ = 0;
};

}  // namespace tarvi
