// The IMAP response reader on anything a server may send. The first two
// bytes choose where the rest is cut in two; the responses and the final
// state must be those of the rest read whole (and, for short inputs, byte by
// byte). Strings read back through quoted() unchanged.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/imap_response.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using namespace tarvi::imap;

void check(bool ok, const char* what) { tarvi::fakes::fuzzCheck(ok, "fuzz_imap_reader", what); }

struct Outcome {
  std::vector<Response> responses;
  Reader::Status end = Reader::Status::NeedMore;
};

Outcome read(std::string_view in, std::size_t piece) {
  // Small bounds, so that inputs of fuzzing size reach them.
  Reader reader(1024, 256);
  Outcome o;
  std::size_t at = 0;
  do {
    reader.feed(in.substr(at, piece));
    at += piece;
    check(reader.held() <= in.size(), "holds more than it was fed");
    Response r;
    while ((o.end = reader.next(r)) == Reader::Status::Ready) o.responses.push_back(r);
    if (o.end != Reader::Status::NeedMore) {
      check(reader.next(r) == o.end, "a final state did not last");
      break;
    }
  } while (at < in.size());
  return o;
}

void checkStrings(const Value& v) {
  if (v.kind == Value::Kind::List)
    for (const Value& i : v.items) checkStrings(i);
  v.number();
  if (v.kind != Value::Kind::String) return;
  const std::optional<std::string> q = quoted(v.text);
  if (!q) return;
  Reader reader;
  reader.feed("* X " + *q + "\r\n");
  Response r;
  check(reader.next(r) == Reader::Status::Ready, "a quoted string does not read");
  check(r.values.size() == 1 && r.values[0].kind == Value::Kind::String && r.values[0].text == v.text,
        "a quoted string reads back different");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::string_view in(reinterpret_cast<const char*>(data) + 2, size - 2);
  const std::size_t cut = (data[0] | (data[1] << 8)) % (in.size() + 1);
  const Outcome whole = read(in, in.size());
  Outcome two;
  {
    Reader reader(1024, 256);
    Response r;
    for (const std::string_view piece : {in.substr(0, cut), in.substr(cut)}) {
      reader.feed(piece);
      while ((two.end = reader.next(r)) == Reader::Status::Ready) two.responses.push_back(r);
      if (two.end != Reader::Status::NeedMore) break;
    }
  }
  check(two.responses == whole.responses, "cut in two: other responses");
  check(two.end == whole.end, "cut in two: another final state");
  if (in.size() <= 2048) {
    const Outcome bytes = read(in, 1);
    check(bytes.responses == whole.responses && bytes.end == whole.end, "byte by byte: another result");
  }
  for (const Response& r : whole.responses) {
    for (const Value& v : r.values) checkStrings(v);
    fetchItem(r, "UID");
    fetchItem(r, "BODY.PEEK[HEADER.FIELDS (FROM)]");
    // Those of a response code are split at its spaces; a CAPABILITY
    // response's atoms may hold a [section] with spaces.
    for (const std::string& c : capabilities(r))
      check(r.name == "CAPABILITY" || (!c.empty() && c.find(' ') == std::string::npos),
            "a code's capability with a space");
  }
  return 0;
}
