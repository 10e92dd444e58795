// The file format of what the fast check listed of a mailbox: per message
// its unique id, sender, subject, attachment flag and identity, in the
// server's order. A text file of UTF-8 lines, fields separated by TAB with
// TAB, CR, LF and backslash escaped, closed by a checksum line, so that a
// file cut short, changed by hand or written by something else is told
// from a list and never read half.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/mail/mail_list.h"
#include "monitor/services/list_store.h"

namespace tarvi {

// RFC 1939: a unique id is 1 to 70 characters 0x21..0x7E.
bool validUid(std::string_view uid);

// The listed messages that have a unique id, for the mailbox `identity`.
std::string encodeKeptList(TextView identity, const MessageList& list);
// The messages in the order kept, each with its uid and nothing marked,
// retrieved or unseen; nullopt when the bytes are not a list of this
// mailbox (damaged, cut short, another mailbox's, another program's).
std::optional<std::vector<MailItem>> decodeKeptList(TextView identity, std::string_view bytes);

// What the store keeps for the mailbox; empty when nothing is. A damaged or
// foreign file is set aside, and the mailbox starts afresh.
std::vector<MailItem> loadKeptList(ListStore& store, TextView identity);
// Writes the list for the mailbox; false when the store could not.
bool saveKeptList(ListStore& store, TextView identity, const MessageList& list);

}  // namespace tarvi
