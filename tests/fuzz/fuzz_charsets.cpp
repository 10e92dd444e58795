// Every charset the core reads, on any bytes. The first byte picks the
// charset. Text never grows past one unit per byte, and UTF-8 that
// looksLikeUtf8 accepts comes back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "monitor/mail/charsets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static constexpr std::string_view kCharsets[] = {
      "utf-8",       "iso-2022-jp", "shift_jis",  "euc-jp",  "iso-8859-1",
      "iso-8859-15", "windows-1252", "us-ascii", "x-unknown",
  };
  const std::string_view charset = kCharsets[data[0] % std::size(kCharsets)];
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

  const auto text = tarvi::charsetToText(bytes, charset, nullptr);
  if (charset == "x-unknown") {
    if (text) std::abort();
    return 0;
  }
  if (!text || text->size() > bytes.size()) std::abort();

  const tarvi::Text utf8 = *tarvi::charsetToText(bytes, "UTF-8", nullptr);
  // Whatever the bytes, the UTF-16 that comes out is well-formed.
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const char16_t c = utf8[i];
    if (c >= 0xDC00 && c <= 0xDFFF) std::abort();
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= utf8.size() || utf8[i + 1] < 0xDC00 || utf8[i + 1] > 0xDFFF) std::abort();
      ++i;
    }
  }
  if (tarvi::looksLikeUtf8(bytes) && tarvi::toUtf8(utf8) != bytes) std::abort();
  return 0;
}
