#include "common/imap_response.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

namespace tarvi::imap {
namespace {

using namespace std::string_literals;
using Status = Reader::Status;

std::string show(const Value& v) {
  switch (v.kind) {
    case Value::Kind::Atom: return v.text;
    case Value::Kind::Nil: return "NIL";
    case Value::Kind::List: {
      std::string s = "(";
      for (const Value& i : v.items) s += (s.size() > 1 ? " " : "") + show(i);
      return s + ")";
    }
    case Value::Kind::String: break;
  }
  std::string s = "\"";
  char hex[8];
  for (const unsigned char b : v.text) {
    std::snprintf(hex, sizeof hex, b == '"' || b == '\\' ? "\\%c" : b < 0x20 || b >= 0x7F ? "\\x%02x" : "%c", b);
    s += hex;
  }
  return s + "\"";
}

// "a1 OK [code]|text", "* 23 EXISTS", "* 1 FETCH (UID 7)", "+|text"
std::string show(const Response& r) {
  std::string s = r.kind == Response::Kind::Tagged ? r.tag : r.kind == Response::Kind::Untagged ? "*" : "+";
  if (r.number) s += " " + std::to_string(*r.number);
  if (!r.name.empty()) s += " " + r.name;
  if (!r.code.empty()) s += " [" + r.code + "]";
  if (r.isStatus() || r.kind == Response::Kind::Continuation) s += "|" + r.text;
  for (const Value& v : r.values) s += " " + show(v);
  return s;
}

Response parsed(const std::string& line) {
  Reader reader;
  Response r;
  reader.feed(line);
  EXPECT_EQ(reader.next(r), Status::Ready) << line;
  return r;
}

struct Outcome {
  std::vector<std::string> responses;
  Status end = Status::NeedMore;
};

// Feeds `in` in pieces cut at `cuts` (ascending), taking every response as
// soon as it is whole, as a dialogue does.
Outcome read(std::string_view in, const std::vector<std::size_t>& cuts, Reader reader = Reader(4096, 1024)) {
  Outcome o;
  std::size_t from = 0;
  for (std::size_t i = 0; i <= cuts.size() && o.end == Status::NeedMore; ++i) {
    const std::size_t to = i < cuts.size() ? cuts[i] : in.size();
    reader.feed(in.substr(from, to - from));
    from = to;
    Response r;
    while ((o.end = reader.next(r)) == Status::Ready) o.responses.push_back(show(r));
  }
  return o;
}

TEST(ImapReader, ReadsTheSameHoweverTheBytesAreCut) {
  const std::string deep64 = "* X " + std::string(64, '(') + std::string(64, ')');
  std::string overLong = "* SEARCH";
  while (overLong.size() < 4100) overLong += " 1";
  std::string literalsOverBound = "* 1 FETCH (";
  for (int i = 0; i < 4; ++i) literalsOverBound += "A {1000}\r\n" + std::string(1000, 'x') + " ";
  literalsOverBound += "A {1000}\r\n";
  const struct {
    std::string in;
    std::vector<std::string> responses;
    Status end;
  } cases[] = {
      {"* OK [CAPABILITY IMAP4rev1 IDLE] Dovecot ready.\r\n* 1 FETCH (BODY[] {3}\r\nabc)\r\na1 OK [READ-WRITE] done\r\n",
       {"* OK [CAPABILITY IMAP4rev1 IDLE]|Dovecot ready.", "* 1 FETCH (BODY[] \"abc\")", "a1 OK [READ-WRITE]|done"},
       Status::NeedMore},
      // Bare LF, a response without text, empty lines between responses.
      {"\r\n* 23 EXISTS\n\r\n* OK\r\n* BYE\n* 0 recent\r\n", {"* 23 EXISTS", "* OK|", "* BYE|", "* 0 RECENT"},
       Status::NeedMore},
      // What is inside a literal is never read as framing, not even a count.
      {"* 1 FETCH (UID 7 BODY[] {10}\r\na\r\n)\0{5}\r\n)\r\n"s,
       {R"(* 1 FETCH (UID 7 BODY[] "a\x0d\x0a)\x00{5}\x0d\x0a"))"}, Status::NeedMore},
      {"* 2 FETCH (BODY[HEADER.FIELDS (FROM SUBJECT)] {6}\r\nFrom:x BODY[TEXT]<0> {0+}\r\n BINARY[1] ~{2}\r\nxy)\r\n",
       {R"(* 2 FETCH (BODY[HEADER.FIELDS (FROM SUBJECT)] "From:x" BODY[TEXT]<0> "" BINARY[1] "xy"))"}, Status::NeedMore},
      // The code ends at its matching ']'; the text after it is not parsed.
      {"a1 NO [BADCHARSET (UTF-8)] bad [x\r\n* OK [X-A [b] c] \"open (\r\n* NO[ALERT]\r\n",
       {"a1 NO [BADCHARSET (UTF-8)]|bad [x", "* OK [X-A [b] c]|\"open (", "* NO [ALERT]|"}, Status::NeedMore},
      {"* LIST (\\HasNoChildren \\*) \"/\" \"a\\\"b\\\\c\xe6\x97\xa5\0\"\r\n"s,
       {R"(* LIST (\HasNoChildren \*) "/" "a\"b\\c\xe6\x97\xa5\x00")"}, Status::NeedMore},
      {"* 3 FETCH (ENVELOPE (NIL \"s\" nil) X \"NIL\" BODYSTRUCTURE ((A)(B) \"MIXED\"))\r\n",
       {R"(* 3 FETCH (ENVELOPE (NIL "s" NIL) X "NIL" BODYSTRUCTURE ((A) (B) "MIXED")))"}, Status::NeedMore},
      {"+ Ready\r\n+\r\n", {"+|Ready", "+|"}, Status::NeedMore},
      {"* 1 FETCH (BODY[] {5}\r\nab", {}, Status::NeedMore},
      {deep64 + "\r\n", {deep64}, Status::NeedMore},
      {"* 1 EXISTS\r\n* X " + std::string(65, '(') + std::string(65, ')') + "\r\n", {"* 1 EXISTS"},
       Status::Malformed},
      // Bounds are known to be passed before the bytes come.
      {"* 1 EXISTS\r\n* 1 FETCH (BODY[] {2000}\r\nabc", {"* 1 EXISTS"}, Status::TooLarge},
      {"* 1 FETCH (BODY[] {4000000000}\r\n", {}, Status::TooLarge},
      {"* 1 FETCH (BODY[] {18446744073709551621}\r\n", {}, Status::TooLarge},
      {overLong, {}, Status::TooLarge},
      {literalsOverBound, {}, Status::TooLarge},
      // Lines that are no response.
      {"* OK\r\n+OK POP3 ready\r\n", {"* OK|"}, Status::Malformed},
      {" * OK\r\n", {}, Status::Malformed},
      {"a1 FETCH (UID 1)\r\n", {}, Status::Malformed},
      {"* 4294967296 EXISTS\r\n", {}, Status::Malformed},
      {"* FLAGS (\\Seen\r\n", {}, Status::Malformed},
      {"* LIST () \"/\" \"a\r\nb\"\r\n", {}, Status::Malformed},
      {"* 1 FETCH (BODY[] {3}\r\nabc\r\n", {}, Status::Malformed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in.substr(0, 80));
    const Outcome whole = read(c.in, {});
    EXPECT_EQ(whole.responses, c.responses);
    EXPECT_EQ(whole.end, c.end);
    std::vector<std::size_t> bytes;
    for (std::size_t i = 1; i < c.in.size(); ++i) bytes.push_back(i);
    const Outcome each = read(c.in, bytes);
    EXPECT_EQ(each.responses, c.responses) << "byte by byte";
    EXPECT_EQ(each.end, c.end) << "byte by byte";
    for (std::size_t cut = 1; cut < c.in.size(); ++cut) {
      const Outcome two = read(c.in, {cut});
      ASSERT_EQ(two.responses, c.responses) << "cut at " << cut;
      ASSERT_EQ(two.end, c.end) << "cut at " << cut;
    }
  }
}

TEST(ImapReader, AFloodOfSmallResponsesIsLetGo) {
  Reader reader;
  Response r;
  for (std::uint32_t n = 1; n <= 100000; ++n) {
    reader.feed("* " + std::to_string(n) + " EXISTS\r\n");
    ASSERT_EQ(reader.next(r), Status::Ready);
    ASSERT_EQ(r.number, n);
    ASSERT_LE(reader.held(), 40u);
  }
  // One response that would make its values many times its size: refused.
  std::string lists = "* 1 FETCH (";
  for (int i = 0; i < 600000; ++i) lists += "()";
  reader.feed(lists + ")\r\n");
  EXPECT_EQ(reader.next(r), Status::Malformed);
}

TEST(ImapReader, ALongLineArrivingInSmallPiecesIsScannedOnce) {
  // Rescanning the pending line on every receive would take minutes here.
  const auto began = std::chrono::steady_clock::now();
  Reader reader;
  Response r;
  reader.feed("* SEARCH");
  const std::string piece(256, ' ');
  for (int i = 0; i < 64 * 1024; ++i) {
    reader.feed(piece);
    ASSERT_EQ(reader.next(r), Status::NeedMore);
  }
  reader.feed(" 7\r\n");
  ASSERT_EQ(reader.next(r), Status::Ready);
  EXPECT_EQ(show(r), "* SEARCH 7");
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(2));
}

TEST(ImapEncoding, QuotedStringsReadBackAsTheyWere) {
  const struct {
    std::string in;
    std::optional<std::string> out;
  } cases[] = {
      {"user", "\"user\""},
      {"", "\"\""},
      {"p\"a\\s s(", R"("p\"a\\s s(")"},
      {"a\rb", std::nullopt},
      {"a\nb", std::nullopt},
      {"a\0b"s, std::nullopt},
      {"\xe6\x97\xa5", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(quoted(c.in), c.out) << c.in;
    if (!c.out) continue;
    const Response r = parsed("* X " + *c.out + "\r\n");
    EXPECT_TRUE(r.values.size() == 1 && r.values[0].kind == Value::Kind::String && r.values[0].text == c.in) << *c.out;
  }
}

TEST(ImapEncoding, FolderNamesInModifiedUtf7) {
  // RFC 3501's own example, an "&", and the empty name.
  EXPECT_EQ(mailboxArgument(u"~peter/mail/日本語/台北"), "\"~peter/mail/&ZeVnLIqe-/&U,BTFw-\"");
  EXPECT_EQ(mailboxArgument(u"A&B"), "\"A&-B\"");
  EXPECT_EQ(mailboxArgument(u""), "\"INBOX\"");
}

TEST(ImapEncoding, SequenceSetsJoinRuns) {
  const struct {
    std::vector<std::uint32_t> uids;
    const char* set;
  } cases[] = {
      {{}, ""},
      {{5}, "5"},
      {{1, 2, 3, 5, 7, 8}, "1:3,5,7:8"},
      {{8, 7, 7, 1, 3, 2, 5, 1}, "1:3,5,7:8"},
      {{4294967295u, 1, 4294967294u}, "1,4294967294:4294967295"},
  };
  for (const auto& c : cases) EXPECT_EQ(sequenceSet(c.uids), c.set);
}

TEST(ImapHelpers, FetchItemsAndCapabilities) {
  const Response f = parsed(
      "* 4 FETCH (UID 9 BODY[HEADER.FIELDS (FROM)] {2}\r\nhi BODY[]<0> \"b\" FLAGS (\\Seen))\r\n");
  const struct {
    const char *item, *found;
  } items[] = {
      {"uid", "9"},
      {"BODY.PEEK[HEADER.FIELDS (FROM)]", "\"hi\""},
      {"BODY[]", "\"b\""},
      {"BODY.PEEK[]<0.100>", "\"b\""},
      {"FLAGS", "(\\Seen)"},
      {"BODY[TEXT]", "none"},
      {"9", "none"},  // a value is no item name
  };
  for (const auto& c : items) {
    const Value* v = fetchItem(f, c.item);
    EXPECT_EQ(v ? show(*v) : "none", c.found) << c.item;
  }
  EXPECT_EQ(fetchItem(f, "UID")->number(), 9u);
  const std::vector<std::string> caps = {"IMAP4REV1", "IDLE", "AUTH=PLAIN"};
  EXPECT_EQ(capabilities(parsed("* CAPABILITY IMAP4rev1 idle AUTH=PLAIN\r\n")), caps);
  EXPECT_EQ(capabilities(parsed("* OK [CAPABILITY IMAP4rev1 idle AUTH=PLAIN] ready\r\n")), caps);
  EXPECT_TRUE(capabilities(parsed("* OK [ALERT] CAPABILITY IDLE\r\n")).empty());
}

}  // namespace
}  // namespace tarvi::imap
