// Header fields of a message given as raw bytes, decoded for display:
// RFC 2047 encoded words ("B" and "Q", any case, any charset that
// charsetToText knows), raw 8-bit UTF-8 (RFC 6532) and raw Shift_JIS,
// RFC 2231 parameters. Everything here reads untrusted bytes: linear time,
// output bounded by a small multiple of the input, never a crash.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/text.h"
#include "monitor/services/charset.h"

namespace tarvi {

// The header block of a message: from its start (after a "+OK ..." status
// line, when there is one) up to the first empty line, or all of it.
std::string_view headerBlock(std::string_view message);

// The value of the first field `name` (case ignored) in a header block,
// continuation lines unfolded (the line break dropped, the white space
// kept); nullopt when there is no such field.
std::optional<std::string> headerValue(std::string_view header, std::string_view name);

// A field value decoded for display. White space between two adjacent
// encoded words disappears; adjacent words of one charset are decoded as
// one byte string (a character split across two words comes out whole).
// An unknown charset or a broken word stays as it came. Raw 8-bit bytes
// outside encoded words are read as UTF-8 when they are valid UTF-8, else
// as Shift_JIS. Control characters (TAB, CR, LF included) become spaces.
Text decodeHeaderValue(std::string_view value, CharsetConverter* other);

// The parameter `name` of a structured field value such as a
// Content-Disposition or Content-Type: RFC 2231 (`name*=charset'lang'...`,
// continuations `name*0*=`, `name*1=` ...), else the plain or quoted
// value, in which encoded words are decoded too. nullopt when absent.
std::optional<Text> parameterValue(std::string_view fieldValue, std::string_view name,
                                   CharsetConverter* other);

}  // namespace tarvi
