// Header extraction: turns POP3 replies into the records of the mail table.
//
//  - subListSet: the check session calls it once per message, in message
//    order, with the complete TOP reply (status line through the closing
//    "." line, decoded from the socket bytes with cp932::decode). It sets
//    From and Subject, guesses HasAttach from "boundary=", clears the mark,
//    and empties Body when the record now describes another message.
//  - subListSet2: the retrieve session calls it with each complete RETR
//    reply. It sets Body, HasAttach and AttachNames; From, Subject and
//    Marked stay. The reply is shortened in place (attachments and the
//    text part's header are cut away); the session logs what is left.
//
// Both run to completion on any input and report nothing. They return false
// only when (account, msgno) lies outside the table; the caller must enlarge
// the table (MailList::ensureMessages) before asking for the messages.
#pragma once

#include "common/text.h"
#include "monitor/mail/mail_list.h"

namespace tarvi {

bool subListSet(MailList& mailList, int account, int msgno, const Text& reply);
bool subListSet2(MailList& mailList, int account, int msgno, Text& reply);

// The pieces of subListSet, for callers and tests that want one value.
// Subject: the first "Subject: " anywhere (case ignored), folded lines
// joined without their line breaks and leading white space, then decoded.
Text extractSubject(TextView reply);
// Sender: the rest of the line after the first "From: " (case ignored),
// continuation lines not read, then decoded.
Text extractSender(TextView reply);

// What subListSet2 makes of a RETR reply, without touching a table.
struct RetrievedMail {
  Text Body;
  bool HasAttach = false;
  Text AttachNames;
};
RetrievedMail extractRetrieved(Text& reply);

}  // namespace tarvi
