// readMessage on any RETR reply a server can send, and the decoders under it
// on the same bytes. Whatever comes, the body stays within a small multiple
// of the input (the unwrapping may double line breaks, HTML paragraphs may
// double again) and no NUL reaches the viewer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/text.h"
#include "monitor/mail/mime_body.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

void check(bool ok, const char* what) { tarvi::fakes::fuzzCheck(ok, "fuzz_mime_body", what); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvi;
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  const ReadableMessage m = readMessage(in, nullptr);
  check(m.body.size() <= 4 * size + 16, "body larger than four times the input");
  check(m.body.find(u'\0') == Text::npos, "a NUL in the body");
  std::size_t names = 0;
  for (const Text& a : m.attachments) names += a.size();
  check(names <= 4 * size + 16 * m.attachments.size() + 16, "attachment names out of bounds");

  check(decodeBase64(in).size() <= size, "Base64 grew");
  check(decodeQuotedPrintable(in).size() <= size, "quoted-printable grew");
  const Text html = fromUtf8(in);
  check(htmlToText(html).size() <= 2 * html.size() + 2, "HTML text more than twice the input");
  return 0;
}
