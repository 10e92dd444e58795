// Code page 932 (Japanese Shift_JIS as Windows uses it), one implementation
// for every platform, so that what the programs do with bytes does not depend
// on the system code page and the tests on Linux see what Windows sees.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/text.h"

namespace tarvi::cp932 {

// Bytes to text. A pair with no character, or a lead byte without a usable
// trail byte, gives U+30FB as Windows does; the decoder never fails.
Text decode(std::string_view bytes);

// Text to bytes. A character with no code becomes '?'.
std::string encode(TextView text);

// The character's code as the code page gives it: 0..255 for one byte,
// lead * 256 + trail for two; -1 when the character has no code.
int codeOf(char16_t c);

// The character of a code (0..255, or lead * 256 + trail); U+30FB when the
// code names no character.
char16_t charOf(int code);

// True when byte b starts a two-byte character.
bool isLeadByte(unsigned char b);

}  // namespace tarvi::cp932
