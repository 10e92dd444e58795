// Charsets the core does not know itself (Chinese, Korean, Cyrillic, the
// other ISO-8859 and Windows code pages, UTF-7), converted by Windows
// through their code pages.
#pragma once

#include "monitor/services/charset.h"

namespace tarvi::win32 {

class Win32Charsets : public CharsetConverter {
 public:
  std::optional<Text> toText(std::string_view bytes, std::string_view charset) override;

  // The code page of a MIME charset name (any case), 0 when none is known.
  static unsigned codePageOf(std::string_view charset);
};

}  // namespace tarvi::win32
