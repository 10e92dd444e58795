// Decoding of Japanese header and body text: MIME encoded words in
// ISO-2022-JP with Base64 ("=?ISO-2022-JP?B?...?="), and raw ISO-2022-JP
// text whose JIS X 0208 passages are framed by ESC $ B and ESC ( B or
// ESC ( J. The result is display text whose characters are those of code
// page 932. Every routine is a pure function and never fails: input it
// cannot make sense of comes back as it stood.
#pragma once

#include <cstdint>

#include "common/text.h"

namespace tarvi {

// How an ISO-2022-JP Base64 encoded word opens (matched without regard to
// case).
inline constexpr TextView kEncodedWordOpen = u"=?ISO-2022-JP?B?";

// Decodes the first encoded word of `text` (the opening is matched without
// regard to case). Plain text before the word is kept; text after its
// closing "?=" is not part of the result. Without an opening the text comes
// back unchanged. Each decoded byte becomes its code-page-932 byte
// character. Characters outside the Base64 alphabet are skipped, so a stray
// space or line break in a payload does not shift the bytes after it.
Text decodeBWord(TextView text);

// One JIS X 0208 byte pair to its code-page-932 character. An invalid pair
// (row or cell 0 or beyond 94) gives the empty text. A pair in which either
// byte is below 0x20 (a line break inside a passage) is not a JIS pair: the
// two bytes come back as their byte characters.
Text jisToSjis(std::uint8_t b1, std::uint8_t b2);

// Convert every JIS passage (ESC $ B up to the closing escape) of a text;
// jisDecodeB closes passages with ESC ( B, jisDecodeJ with ESC ( J. Text
// outside passages is kept; an unclosed passage stays as it is. If a passage
// holds a character that has no single-byte code the whole text comes back
// unconverted. The result ends before its first NUL character.
Text jisDecodeB(TextView text);
Text jisDecodeJ(TextView text);

// jisDecodeB when the text holds ESC ( B anywhere, otherwise jisDecodeJ.
Text jisToText(TextView text);

// The text without its NUL characters.
Text dropNul(TextView text);

// The whole decoding of one header value: every complete encoded word is
// decoded in place (plain text around and between words is kept as it is),
// then NULs are dropped and JIS passages converted. `stripOldJis` (for
// subjects) deletes ESC $ @ from each decoded word.
Text decodeHeader(TextView value, bool stripOldJis);

}  // namespace tarvi
