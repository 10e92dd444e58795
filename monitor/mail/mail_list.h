// The messages of one account as the last check listed them: one MailItem
// per POP3 message number, filled by the check and retrieve sessions and
// read by the popup and the viewer.
#pragma once

#include <string>
#include <vector>

#include "common/text.h"

namespace tarvi {

struct MailItem {
  Text sender;               // decoded sender line
  Text subject;              // decoded subject, folded lines joined
  bool marked = false;       // the row carries the mark
  bool hasAttachment = false;  // multipart before retrieval, attachments after
  Text attachmentNames;      // each name as "name" followed by one space
  Text body;                 // decoded body; empty while not retrieved
  Text identity;             // messageIdentity of what the check listed
  // The server's unique id of the message (UIDL) when the fast check
  // listed it; empty otherwise.
  std::string uid;
  // The fast check listed it for the first time: an id never seen before.
  bool unseen = false;

  bool operator==(const MailItem&) const = default;
};

// Records for message numbers 1..size(). Growing keeps every record; only
// clear() discards them. A reference obtained from find() is valid until
// the list next grows.
class MessageList {
 public:
  static constexpr int kInitialMessages = 10;
  // Message numbers travel as 16-bit values; a server that claims more
  // messages must not make the list swallow the machine's memory.
  static constexpr int kMaxMessages = 32767;

  // Every record empty, numbers 1..messages (capped at kMaxMessages).
  void clear(int messages = kInitialMessages);
  // Raises the bound to `messages`, keeping every record; never shrinks.
  // False (and nothing changed) when `messages` exceeds kMaxMessages.
  bool ensure(int messages);

  int size() const { return static_cast<int>(items_.size()); }
  // The records as a whole, for a list rebuilt in another order; no more
  // than kMaxMessages are taken back.
  std::vector<MailItem> release() { return std::move(items_); }
  void assign(std::vector<MailItem> items);
  // The record, or nullptr outside 1..size().
  MailItem* find(int msgno);
  const MailItem* find(int msgno) const;

 private:
  std::vector<MailItem> items_;
};

}  // namespace tarvi
