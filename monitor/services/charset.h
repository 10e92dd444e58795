// Conversion of bytes in a charset the core does not know itself: on
// Windows by code page, in the tests a fake.
#pragma once

#include <optional>
#include <string_view>

#include "common/text.h"

namespace tarvi {

class CharsetConverter {
 public:
  virtual ~CharsetConverter() = default;
  // The text of `bytes` in `charset` (a MIME charset name, any case);
  // nullopt when the system does not know the charset.
  virtual std::optional<Text> toText(std::string_view bytes, std::string_view charset) = 0;
};

}  // namespace tarvi
