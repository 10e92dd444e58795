// The stored form of an account's password: not encryption, only a guard
// against reading it at a glance. Each character becomes the decimal text of
// its code-page-932 code as a signed 16-bit number, followed by one space.
#pragma once

#include "common/text.h"

namespace tarvi {

Text scramblePass(TextView password);
// Decodes well-formed tokens only; an unterminated last token, empty tokens
// and tokens that are not numbers in -32768..65535 add nothing.
Text unscramblePass(TextView stored);

}  // namespace tarvi
