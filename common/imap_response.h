// IMAP4rev1 server responses read from bytes as they arrive, and the few
// encodings a command needs. The reader frames a response by its lines and
// the literals announced at their ends, so a response cut anywhere across
// receives reads the same as one that came whole, at a cost linear in its
// size; only a whole response is parsed. Both programs use it: the monitor's
// dialogues and the settings program's connection test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvi::imap {

struct Value {
  enum class Kind { Atom, String, Nil, List };
  Kind kind = Kind::Atom;
  // Atom: as received (numbers, \Seen, BODY[HEADER.FIELDS (FROM)]<0> ...).
  // String: its bytes (a quoted string unescaped, or a literal).
  std::string text;
  std::vector<Value> items;  // List

  // Case-insensitive (ASCII), and only an Atom matches.
  bool isAtom(std::string_view name) const;
  // An Atom of digits that fits 32 bits.
  std::optional<std::uint32_t> number() const;

  friend bool operator==(const Value&, const Value&) = default;
};

struct Response {
  enum class Kind { Tagged, Untagged, Continuation };
  Kind kind = Kind::Untagged;
  std::string tag;                      // Tagged only
  std::optional<std::uint32_t> number;  // "* 23 EXISTS" -> 23
  // Upper-cased: OK NO BAD BYE PREAUTH CAPABILITY FETCH EXISTS ...; empty for
  // a continuation.
  std::string name;
  // Status responses (OK NO BAD BYE PREAUTH): the text inside [ ] as
  // received ("UIDVALIDITY 3857529045", "PERMANENTFLAGS (\Seen \*)"), or "".
  std::string code;
  // Status responses: the rest of the line, unparsed; a continuation: what
  // follows "+ ".
  std::string text;
  // Every other response: the values after the name.
  std::vector<Value> values;

  bool isStatus() const;

  friend bool operator==(const Response&, const Response&) = default;
};

class Reader {
 public:
  explicit Reader(std::size_t maxResponseBytes = 64u << 20, std::size_t maxLiteralBytes = 64u << 20);

  void feed(std::string_view bytes);

  enum class Status { NeedMore, Ready, Malformed, TooLarge };
  // The next whole response into `out` (Ready), or NeedMore until it has
  // come. Malformed and TooLarge are final: every later call says so again.
  // TooLarge comes as soon as a bound is known to be passed: a literal's
  // count is checked before its bytes arrive.
  Status next(Response& out);

  // Bytes in memory: those not yet given out as responses, and at most as
  // many already given out, which are let go in batches so that the cost
  // stays linear.
  std::size_t held() const { return buf_.size(); }

 private:
  // Reads on from scan_: Ready once the response from start_ is whole, its
  // end at responseEnd_.
  Status frame();

  std::size_t maxResponse_;
  std::size_t maxLiteral_;
  std::string buf_;
  std::size_t start_ = 0;      // the response in progress starts here
  std::size_t lineStart_ = 0;  // its current line starts here
  std::size_t scan_ = 0;       // the search for the line's LF goes on from here
  std::size_t literalEnd_ = 0;  // while a literal is awaited: just past it
  bool inLiteral_ = false;
  std::size_t responseEnd_ = 0;
  Status final_ = Status::NeedMore;
};

// A quoted string for `s`, usable wherever a command takes an astring; nullopt
// when `s` has a byte a quoted string cannot carry (CR, LF, NUL, 8-bit) and
// must go as a literal.
std::optional<std::string> quoted(std::string_view s);
// So that quoted(aString) is this one, not std::quoted found through the
// argument's namespace.
inline std::optional<std::string> quoted(const std::string& s) { return quoted(std::string_view(s)); }

// UIDs in any order, duplicates allowed, as a compact sequence set:
// {1,2,3,5,7,8} -> "1:3,5,7:8"; "" for none.
std::string sequenceSet(std::vector<std::uint32_t> uids);

// A folder name as a command argument: modified UTF-7 (RFC 3501 5.1.3),
// quoted; an empty name is INBOX.
std::string mailboxArgument(const std::u16string& folder);

// In a FETCH response, the value that follows the item named `item`
// (case-insensitive), or nullptr. A section item is matched up to its ']',
// so "BODY[]" finds "BODY[]<0>", and "BODY.PEEK[...]" finds the BODY[...]
// the server answers with.
const Value* fetchItem(const Response& fetch, std::string_view item);

// The capabilities, upper-cased, of a CAPABILITY response or of a status
// response with a CAPABILITY code; none for any other response.
std::vector<std::string> capabilities(const Response& r);

}  // namespace tarvi::imap
