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
// listTopReplyAll and storeRetrievedAll do the same from the raw bytes of
// the reply, decoding every MIME charset and transfer encoding.
//
// All run to completion on any input and report nothing.
#pragma once

#include <string_view>

#include "common/text.h"
#include "monitor/mail/mail_list.h"
#include "monitor/services/charset.h"

namespace tarvi {

void listTopReply(MailItem& item, const Text& reply);
void storeRetrieved(MailItem& item, Text& reply);

// Sender and subject from the header fields From and Subject, decoded in
// any charset (`other` converts those the core does not know; it may be
// null); hasAttachment when the message is multipart other than
// multipart/alternative. The identity is messageIdentity of the reply read
// as code page 932, exactly as listTopReply has it, because the retrieve
// and delete sessions check the server's replies against it that way.
void listTopReplyAll(MailItem& item, std::string_view replyBytes, CharsetConverter* other);
// The readable body of the message (its text part, or its HTML part as
// text), hasAttachment when a part is an attachment, and the attachments'
// names in the form of storeRetrieved ("\"name\" " each).
void storeRetrievedAll(MailItem& item, std::string_view replyBytes, CharsetConverter* other);
// The same for a whole message as it is (IMAP), not a RETR reply.
void storeMessageAll(MailItem& item, std::string_view message, CharsetConverter* other);

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
