// Header extraction: turns POP3 replies into the records of the mail table.
//
//  - listTopReply: the check session calls it once per message, in message
//    order, with the complete TOP reply (status line through the closing
//    "." line, decoded from the socket bytes with cp932::decode). It sets
//    sender and subject, guesses hasAttachment from "boundary=", clears the mark,
//    and empties the body when the record now describes another message.
//  - storeRetrieved: the retrieve session calls it with each complete RETR
//    reply. It sets the body, hasAttachment and attachmentNames; sender,
//    subject and the mark stay. The reply is shortened in place (attachments and the
//    text part's header are cut away); the session logs what is left.
//
// Both run to completion on any input and report nothing.
#pragma once

#include "common/text.h"
#include "monitor/mail/mail_list.h"

namespace tarvi {

void listTopReply(MailItem& item, const Text& reply);
void storeRetrieved(MailItem& item, Text& reply);

// The pieces of listTopReply, for callers and tests that want one value.
// Subject: the first "Subject: " anywhere (case ignored), folded lines
// joined without their line breaks and leading white space, then decoded.
Text extractSubject(TextView reply);
// Sender: the rest of the line after the first "From: " (case ignored),
// continuation lines not read, then decoded.
Text extractSender(TextView reply);

// Lone LF line ends (servers that send them) become CR LF, which the
// searches here expect.
void normalizeLineEnds(Text& text);

// What a "TOP n 5" would have shown of a whole message: the status line
// and header, the blank line and at most five body lines.
Text topPart(const Text& message);

// What identifies a listed message when its number may have changed: its
// Message-ID, or, when it has none, its sender, subject and Date.
Text messageIdentity(const Text& reply);

// What storeRetrieved makes of a RETR reply, without touching a table.
struct RetrievedMail {
  Text body;
  bool hasAttachment = false;
  Text attachmentNames;
};
RetrievedMail extractRetrieved(Text& reply);

}  // namespace tarvi
