// A whole message (the bytes of a RETR reply) made readable: the MIME
// structure is walked (multipart mixed, alternative, related, nested up to
// kMaxMimeDepth), the text/plain part is taken, else a text/html part turned
// into plain text (paragraphs and line breaks kept, tags, scripts and
// styles dropped, entities decoded); Base64 and quoted-printable are undone
// and the charset converted; dot-stuffing is undone and the closing "."
// line dropped. Linear in the input, output bounded, never a crash.
#pragma once

#include <string_view>
#include <vector>

#include "common/text.h"
#include "monitor/services/charset.h"

namespace tarvi {

struct ReadableMessage {
  Text body;                     // CR LF line ends
  std::vector<Text> attachments;  // names of the parts that are attachments
};

constexpr int kMaxMimeDepth = 8;

// `message` may start with the "+OK" status line and end with the "."
// line of a POP3 reply; either is dropped.
ReadableMessage readMessage(std::string_view message, CharsetConverter* other);
// The same for a message as it is, not wrapped in a POP3 reply (an IMAP
// literal): no status line to drop, no dot-stuffing to undo.
ReadableMessage readBareMessage(std::string_view message, CharsetConverter* other);

// The pieces, for callers and tests.
std::string decodeBase64(std::string_view encoded);
std::string decodeQuotedPrintable(std::string_view encoded);
Text htmlToText(const Text& html);

}  // namespace tarvi
