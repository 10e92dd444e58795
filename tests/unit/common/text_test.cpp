#include "common/text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

namespace tarvi {
namespace {

TEST(ParseInteger, AcceptsOnlyWholeDecimalNumbersInRange) {
  struct Case {
    const char16_t* text;
    std::int64_t min, max;
    std::optional<std::int64_t> want;
  };
  const Case cases[] = {
      {u"110", 1, 32767, 110},
      {u"  42\t", INT16_MIN, INT16_MAX, 42},
      {u"-32768", INT16_MIN, INT16_MAX, -32768},
      {u"+7", 0, 10, 7},
      {u"-0", 0, 10, 0},
      {u"32768", INT16_MIN, INT16_MAX, std::nullopt},
      {u"", 0, 10, std::nullopt},
      {u"   ", 0, 10, std::nullopt},
      {u"-", -10, 10, std::nullopt},
      {u"1 2", 0, 100, std::nullopt},
      {u"0x10", 0, 100, std::nullopt},
      {u"１２", 0, 100, std::nullopt},  // full-width digits are no number
      {u"--1", -10, 10, std::nullopt},
      // Long digit strings are out of range, never wrapped into it.
      {u"000000000000000000000000000005", 0, 10, 5},
      {u"18446744073709551621", 0, 10, std::nullopt},  // 2^64 + 5
      {u"99999999999999999999999999999999", INT64_MIN, INT64_MAX, std::nullopt},
      {u"5", 0, 3, std::nullopt},
      {u"555555555555555555555555555555", 0, 3, std::nullopt},
      // The whole 64-bit range is there for sizes.
      {u"9223372036854775807", 0, INT64_MAX, INT64_MAX},
      {u"9223372036854775808", 0, INT64_MAX, std::nullopt},
      {u"-9223372036854775808", INT64_MIN, INT64_MAX, INT64_MIN},
      {u"-9223372036854775809", INT64_MIN, INT64_MAX, std::nullopt},
      {u"1099511627776123", 0, INT64_MAX, 1099511627776123},  // beyond 2^40
      {u"12a", 0, INT64_MAX, std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(parseInteger(c.text, c.min, c.max), c.want) << toUtf8(c.text);
}

TEST(Decimal, ReadsBackThroughParseInteger) {
  for (std::int64_t v : {std::int64_t{0}, std::int64_t{-1}, std::int64_t{32767},
                         std::int64_t{INT64_MIN}, std::int64_t{INT64_MAX}}) {
    EXPECT_EQ(parseInteger(decimal(v), INT64_MIN, INT64_MAX), v);
  }
  EXPECT_EQ(decimal(INT64_MIN), u"-9223372036854775808");
}

TEST(EraseAll, RemovesEveryOccurrenceInOnePass) {
  struct Case {
    const char16_t* text;
    const char16_t* needle;
    const char16_t* want;
  };
  const Case cases[] = {
      {u"a\r\nb\r\n\r\nc", u"\r\n", u"abc"},
      {u"\r\n\r\n", u"\r\n", u""},
      {u"aaaa", u"aa", u""},
      {u"aaa", u"aa", u"a"},
      {u"abc", u"x", u"abc"},
      {u"abc", u"", u"abc"},  // an empty needle removes nothing (and ends)
      {u"", u"a", u""},
      {u"ab\r", u"\r\n", u"ab\r"},  // a needle cut off at the end stays
  };
  for (const Case& c : cases) {
    Text t = c.text;
    eraseAll(t, c.needle);
    EXPECT_EQ(t, c.want) << toUtf8(c.text) << " without " << toUtf8(c.needle);
  }
}

TEST(FindNoCase, FoldsAsciiOnly) {
  EXPECT_EQ(findNoCase(u"Subject: x", u"SUBJECT:"), 0u);
  EXPECT_EQ(findNoCase(u"x =?ISO-2022-jp?B?", u"=?iso-2022-JP?b?"), 2u);
  EXPECT_EQ(findNoCase(u"ａｂ", u"ＡＢ"), Text::npos);  // full-width letters are not folded
  EXPECT_EQ(findNoCase(u"abcabc", u"ABC", 1), 3u);
  EXPECT_EQ(findNoCase(u"abc", u"abc", 4), Text::npos);
  EXPECT_EQ(findNoCase(u"abc", u"", 3), 3u);
  EXPECT_EQ(findNoCase(u"ab", u"abc"), Text::npos);
}

TEST(Utf8, InvalidBytesBecomeReplacementAndPairsSurvive) {
  EXPECT_EQ(fromUtf8("a\xff" "b"), u"a\uFFFDb");
  // A sequence cut short takes no following character with it.
  const Text cut = fromUtf8("\xe3\x81" "a");
  ASSERT_GE(cut.size(), 2u);
  EXPECT_EQ(cut.back(), u'a');
  EXPECT_EQ(cut.find_first_not_of(u'\uFFFD'), cut.size() - 1);
  const Text pair = u"\U0001F600";
  EXPECT_EQ(fromUtf8(toUtf8(pair)), pair);
  EXPECT_EQ(toUtf8(u"日本"), "\xe6\x97\xa5\xe6\x9c\xac");
}

}  // namespace
}  // namespace tarvi
