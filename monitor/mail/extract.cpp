#include "monitor/mail/extract.h"

#include <algorithm>
#include <vector>

#include "common/cp932.h"
#include "monitor/mail/decode.h"
#include "monitor/mail/mime_body.h"
#include "monitor/mail/mime_header.h"

namespace tarvi {
namespace {

constexpr TextView kCrLf = u"\r\n";
constexpr TextView kBlankLine = u"\r\n\r\n";
constexpr TextView kSubject = u"SUBJECT: ";
constexpr TextView kFrom = u"FROM: ";
constexpr TextView kBoundaryFlag = u"boundary=";
constexpr TextView kBoundaryOpener = u"boundary=\"";
constexpr TextView kNameOpener = u"name=\"";
constexpr TextView kNameCloser = u"\"\r\n";
constexpr TextView kPartHead = u"\r\nContent-Type: ";
constexpr TextView kPreamble = u"\r\nThis is a multi-part message in MIME format.";

// A part that carries a name must show it within this many characters of
// its start, or it counts as a part without a name.
constexpr std::size_t kNameWindow = 300;
// The text kept before the first named part is never longer than this.
constexpr std::size_t kMaxLeadText = 5000;

constexpr auto npos = Text::npos;

void eraseChar(Text& text, char16_t c) { std::erase(text, c); }

// The length of the text before the "\r\n--" that precedes a boundary found
// at `boundaryPos`. A boundary that stands too close to the start of the
// text (a reply that is short or oddly formed) gives 0, never a negative
// length.
std::size_t beforeDelimiter(std::size_t boundaryPos) {
  return boundaryPos >= 2 ? boundaryPos - 2 : 0;
}

// Deletes every CRLF, also one that a deletion brings together ("\r\r\n\n"),
// so the result holds no line break at all.
void eraseLineBreaks(Text& text) {
  std::size_t write = 0;
  for (char16_t c : text) {
    text[write++] = c;
    if (c == u'\n' && write >= 2 && text[write - 2] == u'\r') write -= 2;
  }
  text.resize(write);
}

bool isBlank(char16_t c) { return c == u' ' || c == u'\t'; }

// A sender or subject is shown on one line of the list: a line break or
// another control character that decoding brought in would break the row.
Text& spaceControls(Text& text) {
  for (auto& c : text)
    if (c < 0x20 || c == 0x7F) c = u' ';
  return text;
}

// A header field as a record keeps it. Lines of mail stop at 998 characters
// and real senders, subjects and ids stay far below this; a server that
// sends a field of megabytes must not have every record (sender, subject,
// identity, the list's own copy) hold megabytes too.
constexpr std::size_t kMaxFieldChars = 2048;

Text& clipField(Text& text) {
  if (text.size() > kMaxFieldChars) text.resize(kMaxFieldChars);
  return text;
}

// The value of the header field `name` (upper case, with its colon) in the
// header block of a reply, continuation lines joined; empty when absent.
Text headerField(TextView reply, TextView name) {
  const std::size_t end = reply.find(kBlankLine);
  const TextView head = reply.substr(0, end == npos ? reply.size() : end + 2);
  std::size_t at = 0;
  for (;;) {
    at = findNoCase(head, name, at);
    if (at == npos) return {};
    if (at == 0 || head[at - 1] == u'\n') break;
    at += name.size();
  }
  Text value;
  std::size_t pos = at + name.size();
  for (;;) {
    const std::size_t br = head.find(kCrLf, pos);
    value.append(head.substr(pos, br == npos ? npos : br - pos));
    if (br == npos) break;
    pos = br + kCrLf.size();
    if (pos >= head.size() || !isBlank(head[pos])) break;
  }
  std::size_t b = 0, e = value.size();
  while (b < e && isBlank(value[b])) ++b;
  while (e > b && isBlank(value[e - 1])) --e;
  return value.substr(b, e - b);
}

// A header field of the raw header block decoded for one line of the list.
Text displayField(std::string_view header, std::string_view name, CharsetConverter* other) {
  const auto raw = headerValue(header, name);
  if (!raw) return {};
  Text value = decodeHeaderValue(*raw, other);
  spaceControls(value);
  std::size_t b = 0, e = value.size();
  while (b < e && value[b] == u' ') ++b;
  while (e > b && value[e - 1] == u' ') --e;
  return value.substr(b, e - b);
}

// Whether the list shows the attachment mark before the message is
// retrieved: only its top-level Content-Type is known then. The parts of a
// multipart/alternative are one text in two forms, never an attachment.
bool mayHaveAttachment(std::string_view header) {
  const auto type = headerValue(header, "Content-Type");
  if (!type) return false;
  std::string t;
  for (unsigned char c : *type) {
    if (t.empty() && (c == ' ' || c == '\t')) continue;
    if (c == ';' || c == ' ' || c == '\t') break;
    t.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
  }
  return t.starts_with("multipart/") && t != "multipart/alternative";
}

}  // namespace

void normalizeLineEnds(Text& text) {
  std::size_t lone = 0;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (text[i] == u'\n' && (i == 0 || text[i - 1] != u'\r')) ++lone;
  if (lone == 0) return;
  Text out;
  out.reserve(text.size() + lone);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\n' && (i == 0 || text[i - 1] != u'\r')) out.push_back(u'\r');
    out.push_back(text[i]);
  }
  text = std::move(out);
}

Text topPart(const Text& message) {
  const std::size_t head = message.find(kBlankLine);
  if (head == npos) return message;
  std::size_t end = head + kBlankLine.size();
  for (int i = 0; i < 5; ++i) {
    const std::size_t lf = message.find(u'\n', end);
    if (lf == npos) return message;
    end = lf + 1;
  }
  return message.substr(0, end) + u".\r\n";
}

Text messageIdentity(const Text& reply) {
  Text id = headerField(reply, u"MESSAGE-ID:");
  if (!id.empty()) return u"id " + clipField(id);
  // Without one, the message is known by what the list shows of it and by
  // when it was written.
  const Text part = topPart(reply);
  Text date = headerField(reply, u"DATE:");
  return u"from " + extractSender(part) + u"\nsubject " + extractSubject(part) + u"\ndate " +
         clipField(date);
}

Text extractSubject(TextView reply) {
  const std::size_t at = findNoCase(reply, kSubject);
  if (at == npos) return {};
  const TextView s = reply.substr(at + kSubject.size());

  // Unfold: continuation lines lose their leading white space and are joined
  // to the line before; the first line break followed by anything else ends
  // the subject. `joined` is s with the white space removed so far.
  Text joined;
  std::size_t copied = 0;  // s[copied..] is not yet in `joined`
  std::size_t pos = 0;
  for (;;) {
    const std::size_t br = s.find(kCrLf, pos);
    if (br == npos) {
      // No line break ends the subject: the reply was cut short. Only the
      // plain text before an encoded word is trusted then.
      joined.append(s.substr(copied));
      const std::size_t word = findNoCase(joined, kEncodedWordOpen);
      if (word == npos) return {};
      joined.resize(word);
      // TABs separate the popup's columns: none may stay, here neither.
      eraseChar(joined, u'\t');
      return clipField(spaceControls(joined));
    }
    pos = br + kCrLf.size();
    if (pos < s.size() && isBlank(s[pos])) {
      joined.append(s.substr(copied, pos - copied));
      while (pos < s.size() && isBlank(s[pos])) ++pos;
      copied = pos;
      continue;
    }
    joined.append(s.substr(copied, br - copied));
    break;
  }
  eraseAll(joined, kCrLf);
  eraseChar(joined, u'\t');
  Text subject = decodeHeader(joined, true);
  eraseChar(subject, u'\t');
  return clipField(spaceControls(subject));
}

Text extractSender(TextView reply) {
  const std::size_t at = findNoCase(reply, kFrom);
  if (at == npos) return {};
  const std::size_t start = at + kFrom.size();
  const std::size_t end = reply.find(kCrLf, start);
  Text sender = decodeHeader(reply.substr(start, end == npos ? npos : end - start), false);
  eraseChar(sender, u'\t');
  return clipField(spaceControls(sender));
}

void listTopReply(MailItem& item, const Text& reply) {
  MailItem* r = &item;
  Text subject = extractSubject(reply);
  Text sender = extractSender(reply);
  Text identity = messageIdentity(reply);
  // Another message at this number means the server renumbered its
  // messages; the body retrieved earlier belongs to another message.
  if (r->identity != identity || r->sender != sender || r->subject != subject) r->body.clear();
  r->identity = std::move(identity);
  r->hasAttachment = findNoCase(reply, kBoundaryFlag) != npos;
  r->sender = std::move(sender);
  r->subject = std::move(subject);
  r->marked = false;
}

void listTopReplyAll(MailItem& item, std::string_view replyBytes, CharsetConverter* other) {
  const std::string_view header = headerBlock(replyBytes);
  Text subject = displayField(header, "Subject", other);
  Text sender = displayField(header, "From", other);
  clipField(subject);
  clipField(sender);
  Text decoded = cp932::decode(replyBytes);
  normalizeLineEnds(decoded);
  Text identity = messageIdentity(decoded);
  // Another message at this number: see listTopReply.
  if (item.identity != identity || item.sender != sender || item.subject != subject)
    item.body.clear();
  item.identity = std::move(identity);
  item.hasAttachment = mayHaveAttachment(header);
  item.sender = std::move(sender);
  item.subject = std::move(subject);
  item.marked = false;
}

namespace {

void storeReadable(MailItem& item, ReadableMessage mail) {
  Text names;
  for (const Text& name : mail.attachments) {
    names += u'"';
    names += name;
    names += u"\" ";
  }
  // The names share one line of the viewer, as in storeRetrieved.
  eraseChar(names, u'\t');
  eraseLineBreaks(names);
  item.body = std::move(mail.body);
  item.hasAttachment = !mail.attachments.empty();
  item.attachmentNames = std::move(names);
}

}  // namespace

void storeRetrievedAll(MailItem& item, std::string_view replyBytes, CharsetConverter* other) {
  storeReadable(item, readMessage(replyBytes, other));
}

void storeMessageAll(MailItem& item, std::string_view message, CharsetConverter* other) {
  storeReadable(item, readBareMessage(message, other));
}

RetrievedMail extractRetrieved(Text& reply) {
  std::vector<Text> names;
  bool found = false;

  std::size_t a = findNoCase(reply, kBoundaryOpener);
  if (a != npos) {
    const std::size_t boundaryStart = a + kBoundaryOpener.size();
    // The closing quote is looked for from the second boundary character on.
    const std::size_t quote =
        boundaryStart + 1 <= reply.size() ? reply.find(u'"', boundaryStart + 1) : npos;
    // Without a closing quote there is no boundary to look for; the message
    // is then read as if it were not multipart.
    if (quote != npos) {
      const Text partStart =
          reply.substr(boundaryStart, quote - boundaryStart) + Text(kPartHead);
      const std::size_t nested = findNoCase(reply, kBoundaryOpener, a + 1);
      if (nested != npos) a = nested;

      std::size_t cut = 0;
      std::size_t closer = 0;  // cached: next name closer at or after `closer`
      bool closerKnown = false;
      std::size_t p = findNoCase(reply, partStart, a);
      while (p != npos) {
        // Only a name opener inside the window counts, so there is no need
        // to look further: a long message with many parts stays linear.
        const TextView window = TextView(reply).substr(p, kNameWindow + kNameOpener.size());
        const std::size_t inWindow = findNoCase(window, kNameOpener);
        if (inWindow != npos) {
          const std::size_t n = p + inWindow;
          const std::size_t nameStart = n + kNameOpener.size();
          if (!closerKnown || (closer != npos && closer < nameStart)) {
            closer = reply.find(kNameCloser, nameStart);
            closerKnown = true;
          }
          names.push_back(closer == npos ? Text()
                                         : reply.substr(nameStart, closer - nameStart));
          if (!found) cut = std::min(beforeDelimiter(p), kMaxLeadText);
          found = true;
          a = n + 1;
          p = findNoCase(reply, partStart, a);
        } else {
          const std::size_t next = findNoCase(reply, partStart, p + 1);
          if (next == npos) {
            // The last part carries no name: it is not worth keeping.
            reply.resize(std::min(reply.size(), beforeDelimiter(p)));
          }
          p = next;
        }
      }
      if (found) reply.resize(std::min(reply.size(), cut));

      // What remains starts with the first part's own header: drop it.
      const std::size_t first = findNoCase(reply, partStart);
      if (first != npos) {
        const std::size_t headEnd = reply.find(kBlankLine, first);
        if (headEnd != npos) {
          reply.erase(beforeDelimiter(first), headEnd + kBlankLine.size() - beforeDelimiter(first));
        }
      }
      eraseAll(reply, kPreamble);
    }
  }

  RetrievedMail mail;
  const std::size_t headEnd = reply.find(kBlankLine);
  if (headEnd != npos) {
    mail.body = jisToText(dropNul(TextView(reply).substr(headEnd + kBlankLine.size())));
  }
  for (const Text& name : names) {
    mail.attachmentNames += u'"';
    mail.attachmentNames += decodeHeader(name, false);
    mail.attachmentNames += u"\" ";
  }
  eraseChar(mail.body, u'\t');
  eraseChar(mail.attachmentNames, u'\t');
  eraseLineBreaks(mail.attachmentNames);
  mail.hasAttachment = found;
  return mail;
}

void storeRetrieved(MailItem& item, Text& reply) {
  MailItem* r = &item;
  RetrievedMail mail = extractRetrieved(reply);
  r->body = std::move(mail.body);
  r->hasAttachment = mail.hasAttachment;
  r->attachmentNames = std::move(mail.attachmentNames);
}

}  // namespace tarvi
