// decodeHeader and the decoders under it, on any header text a server can
// send. The first byte chooses the subject variant.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/cp932.h"
#include "monitor/mail/decode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool strip = data[0] & 1;
  const tarvi::Text value =
      tarvi::cp932::decode(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
  const tarvi::Text out = tarvi::decodeHeader(value, strip);
  // Whatever came in, no NUL comes out.
  if (out.find(u'\0') != tarvi::Text::npos) std::abort();
  (void)tarvi::decodeBWord(value);
  (void)tarvi::jisDecodeJ(value);
  if (size >= 3) (void)tarvi::jisToSjis(data[1], data[2]);
  return 0;
}
