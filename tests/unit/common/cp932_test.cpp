#include "common/cp932.h"

#include <gtest/gtest.h>

namespace tarvi {
namespace {

struct Case {
  const char* bytes;
  const char16_t* text;
};

TEST(Cp932, DecodesAndEncodesKnownCharacters) {
  const Case cases[] = {
      {"abc", u"abc"},
      {"\x82\xa0\x82\xa2", u"あい"},             // hiragana
      {"\xb1\xb2\xb3", u"ｱｲｳ"},                  // half-width katakana
      {"\x83\x5c", u"ソ"},                       // trail byte 0x5C is not a backslash
      {"\x95\x5c\x8e\xa6", u"表示"},
      {"\x87\x40", u"①"},                        // NEC row 13
      {"\xfa\x40", u"ⅰ"},                        // IBM extension
      {"\x81\x60", u"～"},                       // the wave dash of Windows
      {"\x5c\x7e", u"\\~"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(cp932::decode(c.bytes), c.text) << c.bytes;
    EXPECT_EQ(cp932::encode(c.text), c.bytes) << c.bytes;
  }
}

TEST(Cp932, DuplicatesEncodeAsWindowsDoes) {
  EXPECT_EQ(cp932::encode(u"\uFFE2"), "\x81\xca");  // JIS code before extensions
  EXPECT_EQ(cp932::encode(u"\u2160"), "\x87\x54");  // NEC row 13 before IBM
  EXPECT_EQ(cp932::encode(u"\u2170"), "\xfa\x40");  // IBM before NEC-selected IBM
  EXPECT_EQ(cp932::decode("\xee\xef"), u"\u2170");
}

TEST(Cp932, BadBytesNeverFail) {
  EXPECT_EQ(cp932::decode("\x82"), u"\u30FB");          // lead at the end
  EXPECT_EQ(cp932::decode("\x82\x20"), u"\u30FB ");     // trail out of range
  EXPECT_EQ(cp932::decode("\x85\x40"), u"\u30FB");      // unassigned pair
  EXPECT_EQ(cp932::decode(std::string("\0a", 2)), std::u16string(u"\0a", 2));
  EXPECT_EQ(cp932::encode(u"\u00e9\U0001F600"), "???");  // no code: '?' each unit
}

TEST(Cp932, EveryDecodedCharacterEncodesBackToAPairThatDecodesTheSame) {
  for (int lead = 0x81; lead <= 0xFC; ++lead) {
    if (!cp932::isLeadByte(static_cast<unsigned char>(lead))) continue;
    for (int trail = 0x40; trail <= 0xFC; ++trail) {
      if (trail == 0x7F) continue;
      const std::string b{static_cast<char>(lead), static_cast<char>(trail)};
      const Text t = cp932::decode(b);
      ASSERT_EQ(t.size(), 1u);
      if (t[0] == u'\u30FB' && b != "\x81\x45") continue;
      EXPECT_EQ(cp932::decode(cp932::encode(t)), t) << lead << " " << trail;
    }
  }
}

TEST(Cp932, CodesOfCharacters) {
  EXPECT_EQ(cp932::codeOf(u'a'), 97);
  EXPECT_EQ(cp932::codeOf(u'ｱ'), 0xB1);
  EXPECT_EQ(cp932::codeOf(u'あ'), 0x82A0);
  EXPECT_EQ(cp932::codeOf(u'\u00e9'), -1);
  EXPECT_EQ(cp932::charOf(0x82A0), u'あ');
  EXPECT_EQ(cp932::charOf(0x82), u'\u30FB');  // a lead byte alone is no character
}

}  // namespace
}  // namespace tarvi
