#include "monitor/mail/mime_header.h"

#include <gtest/gtest.h>

#include "tests/fakes/fake_charset.h"

namespace tarvi {
namespace {

struct DecodeCase {
  std::string value;
  Text text;
};

TEST(DecodeHeaderValue, DecodesTodaysMail) {
  const DecodeCase cases[] = {
      // Gmail-style: UTF-8 in Base64, "本" split between the two words.
      {"=?UTF-8?B?5pel5g==?=\r\n =?UTF-8?B?nKzoqp7jga7jg4bjgrnjg4g=?=", u"日本語のテスト"},
      // Q: '_' and =20 are spaces, bytes in hex of any case.
      {"=?utf-8?q?Caf=C3=A9_au_lait=20=e2=98=95?=", u"Café au lait ☕"},
      // ISO-2022-JP from a Windows encoder: 髙 (IBM extension), 橋さん, ①.
      {"=?ISO-2022-JP?B?GyRCfGI2NiQ1JHMtIRsoQg==?=", u"髙橋さん①"},
      {"=?shift_jis?B?jI+WvILMg2WDWINnIJVcjqY=?=", u"件名のテスト 表示"},
      {"=?EUC-JP?Q?=C6=FC=CB=DC=B8=EC?=", u"日本語"},
      {"=?ISO-8859-1?Q?Fran=E7ois_M=FCller?= <f@example.com>", u"François Müller <f@example.com>"},
      {"=?windows-1252?Q?=93Hello=94_=96_it=92s?=", u"“Hello” – it’s"},
      // The RFC 2231 language after the charset.
      {"=?utf-8*ja?B?5pel?=", u"日"},
      // Mislabelled: declared ISO-2022-JP, the bytes are UTF-8.
      {"=?ISO-2022-JP?B?44GT44KT44Gr44Gh44Gv?=", u"こんにちは"},
      // Raw JIS outside encoded words.
      {"Re: \x1b$B%F%9%H\x1b(B", u"Re: テスト"},
      // Inside a raw JIS passage, "=?" is a character code, not a word.
      {"\x1b$B=?sjis?Q?abc?=\x1b(B", u"戎鼕蜩壬吹矣申"},
      // Raw 8-bit text: UTF-8 when it is UTF-8, else Shift_JIS.
      {"Re: \xE6\x97\xA5\xE6\x9C\xAC =?utf-8?B?5pel?=", u"Re: 日本 日"},
      {"\x8C\x8F\x96\xBC: \x95\x5C\x8E\xA6", u"件名: 表示"},
  };
  for (const auto& c : cases) {
    const Text text = decodeHeaderValue(c.value, nullptr);
    EXPECT_EQ(text, c.text) << c.value << " -> " << toUtf8(text);
  }
}

TEST(DecodeHeaderValue, JoinsAdjacentWordsAndKeepsOtherBlanks) {
  const DecodeCase cases[] = {
      {"=?utf-8?Q?a?= \t =?UTF-8?B?Yg==?=", u"ab"},      // same charset, B after Q
      {"=?utf-8?Q?a?= =?iso-8859-1?Q?=E9?=", u"aé"},     // different charsets
      {"Re: =?utf-8?Q?a?=  x =?utf-8?Q?b?= ", u"Re: a  x b "},
      {"=?utf-8?Q?a?==?utf-8?Q?b?=", u"ab"},             // no blank at all
      // Controls become spaces, decoded ones too.
      {"a\tb\r\n c=?utf-8?Q?=0D=0A=7F?=", u"a b   c   "},
      // A character split between two ISO-2022-JP words.
      {"=?ISO-2022-JP?B?GyRCJA==?= =?ISO-2022-JP?B?IiQkGyhC?=", u"あい"},
  };
  for (const auto& c : cases) {
    const Text text = decodeHeaderValue(c.value, nullptr);
    EXPECT_EQ(text, c.text) << c.value << " -> " << toUtf8(text);
  }
}

TEST(DecodeHeaderValue, KeepsWhatItCannotDecodeAsItCame) {
  const DecodeCase cases[] = {
      {"=?x-unknown?B?QUJD?=", u"=?x-unknown?B?QUJD?="},
      // Its blanks stay too, and its neighbours are still decoded.
      {"=?utf-8?Q?a?= =?x-unknown?Q?b?=  =?x-unknown?Q?c?= =?utf-8?Q?d?=",
       u"a =?x-unknown?Q?b?=  =?x-unknown?Q?c?= d"},
      {"=?utf-8?B?QUJD", u"=?utf-8?B?QUJD"},                // never closed
      {"=?utf-8?B?QU*D?= =?utf-8?B?QUJD?=", u"=?utf-8?B?QU*D?= ABC"},  // not Base64
      {"=?utf-8?B?QUJDR?=", u"=?utf-8?B?QUJDR?="},           // a lone sextet
      {"=??B?QUJD?=", u"=??B?QUJD?="},                       // charset empty
      {"=?*ja?B?QUJD?=", u"=?*ja?B?QUJD?="},
      {"=?utf-8?X?abc?=", u"=?utf-8?X?abc?="},               // no such encoding
      {"=?utf-8?Q?a b?=", u"=?utf-8?Q?a b?="},               // a blank inside
      {"=?utf-8?Q?a=?=", u"a="},                             // '=' without hex
      {"=?=?utf-8?Q?a?=", u"=?a"},
  };
  for (const auto& c : cases) {
    const Text text = decodeHeaderValue(c.value, nullptr);
    EXPECT_EQ(text, c.text) << c.value << " -> " << toUtf8(text);
  }
}

TEST(DecodeHeaderValue, AsksTheConverterForOtherCharsets) {
  fakes::FakeCharsets other;
  EXPECT_EQ(decodeHeaderValue("=?KOI8-R?B?8NLJ18XU?= =?x-test?Q?ab?= =?x-none?Q?c?=", &other),
            u"Привет## =?x-none?Q?c?=");
}

TEST(HeaderBlock, EndsAtTheFirstEmptyLine) {
  EXPECT_EQ(headerBlock("+OK 120 octets\r\nSubject: a\r\nFrom: b\r\n\r\nbody\r\n"),
            "Subject: a\r\nFrom: b\r\n");
  EXPECT_EQ(headerBlock("Subject: a\n\nbody"), "Subject: a\n");
  EXPECT_EQ(headerBlock("Subject: a\r\nFrom: b"), "Subject: a\r\nFrom: b");
  EXPECT_EQ(headerBlock("\r\nbody"), "");
}

TEST(HeaderValue, FindsTheFirstFieldAndUnfoldsIt) {
  const std::string header =
      "X-Subject: no\r\nSUBJECT : =?utf-8?Q?a?=\r\n\t=?utf-8?Q?b?=\r\n  c\r\n"
      "Subject: second\r\nFrom: x\r\n\r\nTo: body\r\n";
  EXPECT_EQ(headerValue(header, "subject"), "=?utf-8?Q?a?=\t=?utf-8?Q?b?=  c");
  EXPECT_EQ(headerValue(header, "From"), "x");
  EXPECT_EQ(headerValue(header, "To"), std::nullopt);  // in the body
  EXPECT_EQ(headerValue(header, "Subj"), std::nullopt);
  EXPECT_EQ(headerValue("Empty:\n", "empty"), "");
}

struct ParameterCase {
  std::string field;
  const char* name;
  std::optional<Text> value;
};

TEST(ParameterValue, ReadsPlainQuotedAndRfc2231Values) {
  const ParameterCase cases[] = {
      // 請求書.pdf in three continuations, written out of order.
      {"attachment; filename*1*=%E6%B1%82%E6%9B%B8; filename*0*=UTF-8''%E8%AB%8B;\r\n"
       " filename*2=\".pdf\"",
       "filename", u"請求書.pdf"},
      {"attachment; FILENAME*=iso-8859-1'fr'caf%E9.txt", "filename", u"café.txt"},
      {"text/plain; charset=\"utf-8\"; name=\"a \\\"b\\\"; c.txt\"", "name", u"a \"b\"; c.txt"},
      {"text/plain; charset=utf-8", "charset", u"utf-8"},
      {"attachment; filename=\"=?utf-8?B?5pel5pys?=.txt\"", "filename", u"日本.txt"},
      // The extended form wins over the plain one.
      {"attachment; filename=old.txt; filename*=utf-8''new.txt", "filename", u"new.txt"},
      {"attachment; filename*0=a; filename*100=b", "filename", u"a"},  // beyond the bound
      {"attachment; filename*0*=''%41%zz", "filename", u"A%zz"},       // no charset: raw
      {"attachment; filename*=x-unknown''%41", "filename", u"x-unknown''%41"},
      {"attachment; xfilename=a", "filename", std::nullopt},
      {"attachment", "filename", std::nullopt},
  };
  for (const auto& c : cases) {
    const auto value = parameterValue(c.field, c.name, nullptr);
    EXPECT_EQ(value, c.value) << c.field << " -> " << (value ? toUtf8(*value) : "nullopt");
  }
}

TEST(ParameterValue, AsksTheConverterForOtherCharsets) {
  fakes::FakeCharsets other;
  EXPECT_EQ(parameterValue("attachment; filename*=koi8-r''%F0%D2%C9%D7%C5%D4.txt", "filename",
                           &other),
            Text(u"Привет.txt"));
}

}  // namespace
}  // namespace tarvi
