#include "monitor/mail/decode.h"

#include <gtest/gtest.h>

#include "common/cp932.h"
#include "tests/unit/mail/mail_samples.h"

namespace tarvi {
namespace {

using samples::bWord;
using samples::jis;

struct TextCase {
  Text in, out;
};

std::string show(TextView t) { return toUtf8(t); }

TEST(DecodeBWord, DecodesTheFirstEncodedWord) {
  const TextCase cases[] = {
      // The three katakana of the example, still as JIS.
      {u"=?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=", u"\x1b$B%F%9%H\x1b(B"},
      {u"=?iso-2022-jp?b?GyRCJUYlOSVIGyhC?=", u"\x1b$B%F%9%H\x1b(B"},
      {u"Re: =?ISO-2022-JP?B?QUJD?=", u"Re: ABC"},
      {u"=?ISO-2022-JP?B?QUJD?= =?ISO-2022-JP?B?REVG?=", u"ABC"},  // nothing after the word
      {u"=?ISO-2022-JP?B?QUJD", u"ABC"},  // no closing: the payload runs to the end
      // Padding, written or implied by the payload's end.
      {u"=?ISO-2022-JP?B?QQ==?=", u"A"},
      {u"=?ISO-2022-JP?B?QUI=?=", u"AB"},
      {u"=?ISO-2022-JP?B?QQ?=", u"A"},
      {u"=?ISO-2022-JP?B?QUI?=", u"AB"},
      {u"=?ISO-2022-JP?B?QUJDRA?=", u"ABCD"},
      // A group of pads only adds nothing, no zero byte.
      {u"=?ISO-2022-JP?B?QQ======?=", u"A"},
      {u"=?ISO-2022-JP?B?====?=", u""},
      // Characters outside the alphabet are skipped.
      {u"=?ISO-2022-JP?B?QU\r\n\tJD?=", u"ABC"},
      {u"=?ISO-2022-JP?B?Q*U!JあD?=", u"ABC"},
      // A NUL in the payload is decoded; dropping it is the pipeline's job.
      {u"=?ISO-2022-JP?B?AEE=?=", Text(u"\0A", 2)},
      // A byte above 0x7F is its byte character.
      {u"=?ISO-2022-JP?B?sQ==?=", u"ｱ"},
      // Other charsets and encodings are not ours.
      {u"=?UTF-8?B?44OG?=", u"=?UTF-8?B?44OG?="},
      {u"=?ISO-2022-JP?Q?abc?=", u"=?ISO-2022-JP?Q?abc?="},
      {u"", u""},
  };
  for (const auto& c : cases) EXPECT_EQ(decodeBWord(c.in), c.out) << show(c.in);
}

TEST(JisToSjis, MapsRowsAndCells) {
  const struct {
    std::uint8_t b1, b2;
    int code;  // -1: the empty text
  } cases[] = {
      {0x25, 0x46, 0x8365}, {0x25, 0x39, 0x8358}, {0x25, 0x48, 0x8367},  // テ ス ト
      {0x30, 0x21, 0x889F},                                              // 亜
      {0x21, 0x21, 0x8140}, {0x21, 0x5F, 0x817E}, {0x21, 0x60, 0x8180},
      {0x21, 0x7E, 0x819E}, {0x22, 0x21, 0x819F}, {0x22, 0x7E, 0x81FC},
      {0x5E, 0x21, 0x9F9F}, {0x5F, 0x21, 0xE040}, {0x7E, 0x21, 0xEF9F},
      {0x22, 0x20, 0x819E},  // an even row accepts cell 0
      {0x21, 0x20, -1},      // an odd row does not
      {0x7F, 0x21, -1}, {0x21, 0x7F, -1}, {0x20, 0x21, -1},
      {0xA1, 0xA1, -1}, {0xFF, 0xFF, -1},
  };
  for (const auto& c : cases) {
    const Text want = c.code < 0 ? Text() : Text(1, cp932::charOf(c.code));
    EXPECT_EQ(jisToSjis(c.b1, c.b2), want) << std::hex << int(c.b1) << " " << int(c.b2);
  }
  // Control bytes are not a JIS pair: they come back as they were.
  EXPECT_EQ(jisToSjis(0x0D, 0x0A), u"\r\n");
  EXPECT_EQ(jisToSjis(0x41, 0x09), u"A\t");
}

TEST(JisDecode, ConvertsPassages) {
  const struct {
    Text in, b, j, chosen;  // what jisDecodeB, jisDecodeJ and jisToText make of `in`
  } cases[] = {
      {u"plain text", u"plain text", u"plain text", u"plain text"},
      {jis(u"テスト"), u"テスト", jis(u"テスト"), u"テスト"},
      {jis(u"テスト", u"\x1b(J"), jis(u"テスト", u"\x1b(J"), u"テスト", u"テスト"},
      {jis(u"a日本b語c"), u"a日本b語c", jis(u"a日本b語c"), u"a日本b語c"},
      // Both closings present: ESC ( B rules and ESC ( J is no closing.
      {jis(u"テ") + u" " + jis(u"ス", u"\x1b(J"), u"テ " + jis(u"ス", u"\x1b(J"),
       // J mode: the passage runs to ESC ( J, taking "B " and "B%" for pairs
       // ("B " shows the even-row cell 0 let through).
       u"テ\x1b(憎\x1b$促", u"テ " + jis(u"ス", u"\x1b(J")},
      // The converters take the escapes in either case, the chooser does not.
      {u"\x1b$b%F\x1b(b", u"テ", u"\x1b$b%F\x1b(b", u"\x1b$b%F\x1b(b"},
      // An unclosed passage stays as it came.
      {u"a\x1b$B%F%9", u"a\x1b$B%F%9", u"a\x1b$B%F%9", u"a\x1b$B%F%9"},
      {jis(u"テ") + u"\x1b$B%9", u"テ\x1b$B%9", jis(u"テ") + u"\x1b$B%9", u"テ\x1b$B%9"},
      // An odd last character and invalid pairs are dropped.
      {u"\x1b$B%F%\x1b(B", u"テ", u"\x1b$B%F%\x1b(B", u"テ"},
      {u"\x1b$B\x7f!%F!\x7f\x1b(B", u"テ", u"\x1b$B\x7f!%F!\x7f\x1b(B", u"テ"},
      // A line break inside a passage is kept.
      {u"\x1b$B%F\r\n%9\x1b(B", u"テ\r\nス", u"\x1b$B%F\r\n%9\x1b(B", u"テ\r\nス"},
      // A character that has no single-byte code inside a passage: the
      // text is not JIS, all of it stays. Outside a passage it is fine.
      {u"\x1b$B%Fア\x1b(B", u"\x1b$B%Fア\x1b(B", u"\x1b$B%Fア\x1b(B", u"\x1b$B%Fア\x1b(B"},
      {u"ア" + jis(u"テ"), u"アテ", u"ア" + jis(u"テ"), u"アテ"},
      // Half-width kana are byte characters.
      {u"ｱｲｳ" + jis(u"テ"), u"ｱｲｳテ", u"ｱｲｳ" + jis(u"テ"), u"ｱｲｳテ"},
      // The result ends at its first NUL.
      {Text(u"ab\0cd", 5), u"ab", u"ab", u"ab"},
      {Text(u"x\x1b$B\0A%F\x1b(By", 11), u"x", u"x\x1b$B", u"x"},
      {u"", u"", u"", u""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(jisDecodeB(c.in), c.b) << show(c.in);
    EXPECT_EQ(jisDecodeJ(c.in), c.j) << show(c.in);
    EXPECT_EQ(jisToText(c.in), c.chosen) << show(c.in);
  }
}

TEST(DropNul, RemovesOnlyNul) {
  const TextCase cases[] = {
      {Text(u"a\0b\0", 4), u"ab"},
      {Text(u"\0\0", 2), u""},
      {u"日本\r\n\x1b", u"日本\r\n\x1b"},
      {u"", u""},
  };
  for (const auto& c : cases) EXPECT_EQ(dropNul(c.in), c.out) << show(c.in);
}

TEST(DecodeHeader, DecodesWordsAndJis) {
  const struct {
    Text in;
    bool strip;  // a subject
    Text out;
  } cases[] = {
      {u"=?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=", false, u"テスト"},
      {u"=?iso-2022-jp?b?GyRCJUYlOSVIGyhC?=", false, u"テスト"},
      {bWord(u"日本", u"=?iso-2022-jp?B?"), true, u"日本"},
      {bWord(u"山田") + u" " + bWord(u"太郎") + u" <taro@example.jp>", false,
       u"山田 太郎 <taro@example.jp>"},
      {u"Re: " + bWord(u"会議の件") + u" (再送)", true, u"Re: 会議の件 (再送)"},
      // Not ours: left as they stand.
      {u"=?UTF-8?B?44OG44K544OI?=", false, u"=?UTF-8?B?44OG44K544OI?="},
      {u"=?ISO-2022-JP?Q?=1B$B%F=1B(B?=", false, u"=?ISO-2022-JP?Q?=1B$B%F=1B(B?="},
      {u"=?ISO-2022-JP?B?GyRCJUYlOSVIGyhC", false, u"=?ISO-2022-JP?B?GyRCJUYlOSVIGyhC"},
      // Raw JIS in the header, and a passage split over two words.
      {jis(u"お知らせ"), false, u"お知らせ"},
      {u"=?ISO-2022-JP?B?" + samples::base64(u"\x1b$B%F") + u"?=" + u"=?ISO-2022-JP?B?" +
           samples::base64(u"%9\x1b(B") + u"?=",
       false, u"テス"},
      // ESC $ @ is deleted from subject words; what followed is then plain.
      {u"=?ISO-2022-JP?B?" + samples::base64(u"\x1b$@%F\x1b(J") + u"?=", true, u"%F\x1b(J"},
      {u"=?ISO-2022-JP?B?" + samples::base64(u"\x1b$@%F\x1b(J") + u"?=", false,
       u"\x1b$@%F\x1b(J"},
      // A NUL from a payload or the header itself is dropped, not a cut.
      {u"=?ISO-2022-JP?B?AEE=?=B", false, u"AB"},
      {Text(u"a\0b", 3), false, u"ab"},
      {u"", false, u""},
  };
  for (const auto& c : cases) EXPECT_EQ(decodeHeader(c.in, c.strip), c.out) << show(c.in);
}

}  // namespace
}  // namespace tarvi
