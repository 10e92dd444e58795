#include "monitor/mail/charsets.h"

#include <gtest/gtest.h>

#include "tests/fakes/fake_charset.h"

namespace tarvi {
namespace {

struct CharsetCase {
  const char* charset;
  std::string bytes;
  Text text;
};

TEST(CharsetToText, DecodesEachKnownCharsetUnderItsAliases) {
  const CharsetCase cases[] = {
      // UTF-8, with a character outside the BMP as a surrogate pair.
      {"UTF-8", "\xE6\x97\xA5\xE6\x9C\xAC", u"日本"},
      {"utf8", "\xF0\x9F\x98\x80!", u"\U0001F600!"},
      // ISO-2022-JP: JIS X 0208 (new and old designation), then back to
      // ASCII; NEC row 13 (①, 0x2D21) and an NEC-selected IBM extension
      // (髙, 0x7C62) as Windows encoders emit them; ESC ( I kana.
      {"ISO-2022-JP", "a\x1b$B$\"\x1b(Bb", u"aあb"},
      {"iso-2022-jp", "\x1b$@$\"\x1b(J\\", u"あ\\"},
      {"ISO-2022-JP", "\x1b$B1_1`0!\x1b(B", u"円園亜"},  // cells 63, 64 and an even row
      {"ISO-2022-JP-2", "\x1b$B-!|b\x1b(B", u"①髙"},
      {"csISO2022JP", "\x1b(I12\x1b(B3", u"ｱｲ3"},
      // Shift_JIS and its Windows names; 0x955C has '\' as trail byte.
      {"Shift_JIS", "\x95\x5C\x8E\xA6", u"表示"},
      {"shift-jis", "\x87\x40\xFB\xFC", u"①髙"},
      {"SJIS", "\xB1", u"ｱ"},
      {"x-sjis", "\x81\x45", u"・"},  // the real middle dot, not "no character"
      {"Windows-31J", "\x82\xA0", u"あ"},
      {"MS932", "\x82\xA0", u"あ"},
      {"cp932", "\x82\xA0", u"あ"},
      // EUC-JP: two-byte JIS X 0208, SS2 kana, SS3 JIS X 0212 (not held).
      {"EUC-JP", "\xC6\xFC\xCB\xDC\xB8\xEC", u"日本語"},
      {"x-euc-jp", "\x8E\xB1" "a\x8F\xA2\xAF", u"ｱa\uFFFD"},
      // The single-byte Western charsets.
      {"ISO-8859-1", "Fran\xE7ois \xA4", u"François ¤"},
      {"latin1", "\x93q\x94", u"“q”"},  // Windows quotes under a Latin-1 label
      {"ISO-8859-15", "\xA4\xA6\xA8\xB4\xB8\xBC\xBD\xBE\xE9", u"€ŠšŽžŒœŸé"},
      {"windows-1252", "\x80\x91\x92\x81\x9F", u"€‘’\u0081Ÿ"},
      {"CP1252", "\x96", u"–"},
      {"US-ASCII", "plain", u"plain"},
  };
  for (const auto& c : cases) {
    const auto text = charsetToText(c.bytes, c.charset, nullptr);
    ASSERT_TRUE(text) << c.charset;
    EXPECT_EQ(*text, c.text) << c.charset << ": " << toUtf8(*text);
  }
}

TEST(CharsetToText, InvalidBytesBecomeReplacementCharacters) {
  const CharsetCase cases[] = {
      // Overlong forms, surrogates and code points above U+10FFFF are not
      // UTF-8; a broken sequence ends where it breaks, the next character
      // survives.
      {"utf-8", "\xC0\xAF", u"\uFFFD\uFFFD"},
      {"utf-8", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
      {"utf-8", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
      {"utf-8", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"utf-8", "\xE6\x97" "A\xE6", u"\uFFFDA\uFFFD"},
      {"utf-8", "\xFF", u"\uFFFD"},
      {"shift_jis", "\x85\x40" "a\x82", u"\uFFFDa\uFFFD"},  // an empty cell; a lone lead byte
      {"shift_jis", "\x82 a", u"\uFFFD a"},  // 0x20 cannot be a trail byte
      {"euc-jp", "\xA4" "a\x8E" "a", u"\uFFFDa\uFFFDa"},
      {"iso-2022-jp", "\x1b$B$", u"\uFFFD"},        // half a pair
      {"iso-2022-jp", "\x1b$B)!\x1b(B", u"\uFFFD"},  // row 9 is empty
      {"iso-2022-jp", "\x1b$(D0!\x1b(B", u"\uFFFD"},  // JIS X 0212
      {"iso-2022-jp", "\x1bZa", u"\uFFFDZa"},         // an escape we cannot read
      {"us-ascii", "a\xFF", u"a\uFFFD"},
  };
  for (const auto& c : cases) {
    const auto text = charsetToText(c.bytes, c.charset, nullptr);
    ASSERT_TRUE(text) << c.charset;
    EXPECT_EQ(*text, c.text) << c.charset << ": " << toUtf8(*text);
  }
}

TEST(CharsetToText, ReadsMislabelledSevenBitCharsetsAsWhatTheBytesAre) {
  const CharsetCase cases[] = {
      {"ISO-2022-JP", "\xE3\x81\x93\xE3\x82\x93", u"こん"},  // UTF-8 bytes
      {"us-ascii", "\xC3\xA9t\xC3\xA9", u"été"},
      {"iso-2022-jp", "\x95\x5C\x8E\xA6", u"表示"},  // Shift_JIS bytes
  };
  for (const auto& c : cases) EXPECT_EQ(charsetToText(c.bytes, c.charset, nullptr), c.text);
}

TEST(CharsetToText, UnknownCharsetsGoToTheConverter) {
  EXPECT_EQ(charsetToText("abc", "koi8-r", nullptr), std::nullopt);
  EXPECT_EQ(charsetToText("abc", "x-unknown", nullptr), std::nullopt);
  fakes::FakeCharsets other;
  EXPECT_EQ(charsetToText("\xF0\xD2\xC9\xD7\xC5\xD4", "KOI8-R", &other), Text(u"Привет"));
  EXPECT_EQ(charsetToText("abc", "x-unknown", &other), std::nullopt);
  // What the core knows never reaches the converter.
  EXPECT_EQ(charsetToText("abc", "UTF-8", &other), Text(u"abc"));
  EXPECT_EQ(other.asked, (std::vector<std::string>{"KOI8-R", "x-unknown"}));
}

TEST(LooksLikeUtf8, WantsWellFormedEightBitUtf8) {
  EXPECT_TRUE(looksLikeUtf8("Re: \xE6\x97\xA5"));
  EXPECT_FALSE(looksLikeUtf8("plain ascii"));
  EXPECT_FALSE(looksLikeUtf8(""));
  EXPECT_FALSE(looksLikeUtf8("\x95\x5C\x8E\xA6"));  // Shift_JIS
  EXPECT_FALSE(looksLikeUtf8("\xC0\xAF"));          // overlong '/'
  EXPECT_FALSE(looksLikeUtf8("\xE6\x97"));          // cut short
}

}  // namespace
}  // namespace tarvi
