#include "common/scramble.h"

#include <gtest/gtest.h>

namespace tarvi {
namespace {

TEST(Scramble, RoundTrips) {
  const struct {
    const char16_t* plain;
    const char16_t* stored;
  } cases[] = {
      {u"abc", u"97 98 99 "},
      {u"", u""},
      {u"ﾊﾟｽ", u"202 223 189 "},              // half-width kana: one byte each
      {u"日本", u"-27654 -27013 "},           // 0x93FA, 0x967B as signed 16-bit
      {u"p@ss 1", u"112 64 115 115 32 49 "},  // a space is a character like any other
  };
  for (const auto& c : cases) {
    EXPECT_EQ(scramblePass(c.plain), c.stored);
    EXPECT_EQ(unscramblePass(c.stored), c.plain);
  }
}

TEST(Scramble, MalformedStoredTexts) {
  const struct {
    const char16_t* stored;
    const char16_t* plain;
  } cases[] = {
      {u"0", u""},                       // how an empty password is stored
      {u"97 98 99", u"ab"},              // unterminated last token is lost
      {u"97  98 ", u"ab"},               // two spaces: an empty token
      {u"97 x 98 ", u"ab"},              // not a number
      {u"97 65536 -32769 98 ", u"ab"},   // out of range
      {u"99999999999999999999 97 ", u"a"},
      {u" ", u""},
      {u"-27654 ", u"日"},
      {u"37882 ", u"日"},                // the same code written unsigned
  };
  for (const auto& c : cases) EXPECT_EQ(unscramblePass(c.stored), c.plain) << toUtf8(c.stored);
}

TEST(Scramble, CharacterWithoutCodeIsStoredAsQuestionMark) {
  EXPECT_EQ(scramblePass(u"\u00e9"), u"63 ");
}

}  // namespace
}  // namespace tarvi
