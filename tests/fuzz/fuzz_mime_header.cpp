// Header decoding on any bytes a server can send: field lookup, encoded
// words, raw 8-bit text and RFC 2231 parameters. The output stays within a
// small multiple of the input, and no control character comes out.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "monitor/mail/mime_header.h"
#include "tests/fakes/fake_charset.h"

namespace {

void checkBounded(const tarvi::Text& out, std::size_t inputSize) {
  if (out.size() > 2 * inputSize + 16) std::abort();
}

void checkNoControls(const tarvi::Text& out) {
  for (char16_t c : out)
    if (c < 0x20 || c == 0x7F) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  tarvi::fakes::FakeCharsets other;

  const tarvi::Text decoded = tarvi::decodeHeaderValue(input, &other);
  checkBounded(decoded, size);
  checkNoControls(decoded);
  checkBounded(tarvi::decodeHeaderValue(input, nullptr), size);

  for (std::string_view name : {"filename", "name"}) {
    if (const auto value = tarvi::parameterValue(input, name, &other)) {
      checkBounded(*value, size);
      checkNoControls(*value);
    }
  }

  const std::string_view block = tarvi::headerBlock(input);
  if (block.size() > size || (!block.empty() && block.data() < input.data())) std::abort();
  for (std::string_view name : {"Subject", "From", "Content-Type"}) {
    if (const auto value = tarvi::headerValue(block, name)) {
      if (value->size() > size) std::abort();
      checkBounded(tarvi::decodeHeaderValue(*value, &other), value->size());
    }
  }
  return 0;
}
