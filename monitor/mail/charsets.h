// Bytes in a MIME charset to text. Known here, the same on every system:
// UTF-8, ISO-2022-JP (with the NEC and IBM extension characters that
// encoders in the manner of CP50220 emit), Shift_JIS / CP932 / Windows-31J,
// EUC-JP, ISO-8859-1, ISO-8859-15, Windows-1252 and US-ASCII. Any other
// charset goes to the converter, when there is one.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/text.h"
#include "monitor/services/charset.h"

namespace tarvi {

// nullopt when the charset is unknown (here and to `other`, which may be
// null). Bytes that are invalid in a known charset do not make it fail:
// they become U+FFFD, so that no text is lost silently.
std::optional<Text> charsetToText(std::string_view bytes, std::string_view charset,
                                  CharsetConverter* other);

// True when `bytes` are well-formed UTF-8 holding at least one byte above
// 0x7F (what a raw 8-bit header or a mislabelled part most often is).
bool looksLikeUtf8(std::string_view bytes);

// How charset names are compared: ASCII lower case, without '-', '_' and
// spaces, so that "Shift_JIS", "shift-jis" and "SHIFTJIS" are one name.
std::string charsetKey(std::string_view name);

}  // namespace tarvi
