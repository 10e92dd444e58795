#include "common/scramble.h"

#include "common/cp932.h"

namespace tarvi {

Text scramblePass(TextView password) {
  Text out;
  for (char16_t c : password) {
    int code = cp932::codeOf(c);
    if (code < 0) code = '?';  // what the code page stores for it
    const auto signed16 = static_cast<std::int16_t>(static_cast<std::uint16_t>(code));
    out += decimal(code <= 0xFF ? code : signed16);
    out += u' ';
  }
  return out;
}

Text unscramblePass(TextView stored) {
  Text out;
  std::size_t i = 0;
  while (i < stored.size()) {
    const std::size_t space = stored.find(u' ', i);
    if (space == TextView::npos) break;  // an unterminated token is ignored
    if (auto code = parseInteger(stored.substr(i, space - i), -32768, 65535)) {
      const int c = static_cast<int>(*code);
      out += cp932::charOf(c < 0 ? c + 65536 : c);
    }
    i = space + 1;
  }
  return out;
}

}  // namespace tarvi
