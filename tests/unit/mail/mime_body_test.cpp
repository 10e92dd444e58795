#include "monitor/mail/mime_body.h"

#include <gtest/gtest.h>

#include <chrono>
#include <initializer_list>
#include <string>
#include <vector>

#include "common/cp932.h"
#include "tests/unit/mail/mail_samples.h"

namespace tarvi {
namespace {

// ---------------------------------------------------------------------------
// Samples, written from the encoding side.

// Byte characters (each below 0x100) to bytes.
std::string bytes(TextView byteChars) {
  std::string out;
  for (char16_t c : byteChars) out += static_cast<char>(c & 0xFF);
  return out;
}

std::string utf8(TextView text) { return toUtf8(text); }
std::string sjis(TextView text) { return cp932::encode(text); }
std::string iso2022jp(TextView text) { return bytes(samples::jis(text)); }

std::string base64(std::string_view data) {
  Text byteChars;
  for (char c : data) byteChars += static_cast<char16_t>(static_cast<unsigned char>(c));
  return bytes(samples::base64(byteChars));
}

// Base64 in lines of 76 characters, as mail programs write it.
std::string base64Lines(std::string_view data) {
  const std::string flat = base64(data);
  std::string out;
  for (std::size_t i = 0; i < flat.size(); i += 76) out += flat.substr(i, 76) + "\r\n";
  return out;
}

// Quoted-printable: every byte above 0x7E and '=' escaped, lines broken
// softly every 60 characters.
std::string quotedPrintable(std::string_view data) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  std::size_t column = 0;
  for (char ch : data) {
    const auto c = static_cast<unsigned char>(ch);
    if (ch == '\n') {
      out += "\r\n";
      column = 0;
      continue;
    }
    if (column >= 60) {
      out += "=\r\n";
      column = 0;
    }
    if (c > 0x7E || ch == '=') {
      out += {'=', kHex[c >> 4], kHex[c & 15]};
      column += 3;
    } else {
      out += ch;
      ++column;
    }
  }
  return out;
}

// "%XX" for every byte outside the letters and digits (RFC 2231 values).
std::string percent(std::string_view data) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char ch : data) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '.')
      out += ch;
    else
      out += {'%', kHex[c >> 4], kHex[c & 15]};
  }
  return out;
}

std::string crlf(std::initializer_list<std::string_view> lines) {
  std::string out;
  for (std::string_view l : lines) {
    out += l;
    out += "\r\n";
  }
  return out;
}

// A RETR reply around a message, as a server sends it.
std::string reply(const std::string& message) {
  const bool ended = message.empty() || message.back() == '\n';
  return "+OK 1234 octets\r\n" + message + (ended ? "" : "\r\n") + ".\r\n";
}

std::string show(TextView t) { return toUtf8(t); }

// Knows one charset no table here knows.
class FakeConverter : public CharsetConverter {
 public:
  std::optional<Text> toText(std::string_view data, std::string_view charset) override {
    if (charset != "x-upper") return std::nullopt;
    Text out;
    for (char c : data) out += static_cast<char16_t>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    return out;
  }
};

// ---------------------------------------------------------------------------

struct MessageCase {
  const char* what;
  std::string message;
  Text body;
  std::vector<Text> attachments;
};

std::vector<MessageCase> messageCases() {
  const std::string newsletterHtml = utf8(
      u"<html><head><title>ニュース</title><style>p { color: red }</style></head>\n"
      u"<body><h1>春の&amp;セール</h1>\n"
      u"<p>いつもご利用いただき、\nありがとうございます。</p>\n"
      u"<ul><li>商品A&nbsp;&yen;1,000</li><li>商品B &#x2605; &#26032;</li></ul>\n"
      u"<p>詳しくは<a href=\"https://example.jp/sale?a=1&amp;b=2\">こちら</a>。<br>"
      u"配信停止は<a href='https://example.jp/stop'>https://example.jp/stop</a></p>\n"
      u"<!-- <p>tracking</p> --><script>var x = \"<p>\";</script>\n</body></html>\n");
  const Text newsletterText =
      u"春の&セール\r\n\r\nいつもご利用いただき、 ありがとうございます。\r\n\r\n"
      u"・商品A ¥1,000\r\n・商品B ★ 新\r\n\r\n"
      u"詳しくはこちら (https://example.jp/sale?a=1&b=2)。\r\n配信停止はhttps://example.jp/stop";

  const std::string fileName = utf8(u"見積書_2024年度版.pdf");
  const std::string oddBoundary = "----=_Part_(1)+'a',b.c/d:e?f g";

  std::vector<MessageCase> cases = {
      {"an HTML-only newsletter in Base64 UTF-8",
       reply(crlf({"From: news@example.jp", "Subject: news", "MIME-Version: 1.0",
                   "Content-Type: text/html; charset=\"utf-8\"",
                   "Content-Transfer-Encoding: base64", ""}) +
             base64Lines(newsletterHtml)),
       newsletterText,
       {}},
      {"alternative: the plain part is chosen over the HTML part",
       reply(crlf({"Subject: alt", "Content-Type: multipart/alternative; boundary=ALT", "",
                   "preamble text", "--ALT", "Content-Type: text/html; charset=UTF-8", "",
                   utf8(u"<p>HTMLの本文</p>"), "--ALT", "Content-Type: text/plain; charset=UTF-8",
                   "Content-Transfer-Encoding: 8bit", "", utf8(u"テキストの本文"), "2行目",
                   "--ALT--", "epilogue"})),
       u"テキストの本文\r\n2行目",
       {}},
      {"quoted-printable UTF-8 with soft line breaks",
       reply(crlf({"Content-Type: text/plain; charset=utf-8",
                   "Content-Transfer-Encoding: quoted-printable", ""}) +
             quotedPrintable(utf8(u"お世話になっております。本日の会議は十五時からです。よろしくお願い"
                                  u"いたします。\n= 以上 =\n"))),
       u"お世話になっております。本日の会議は十五時からです。よろしくお願いいたします。\r\n= 以上 =",
       {}},
      {"ISO-2022-JP 7bit",
       reply(crlf({"Content-Type: text/plain; charset=ISO-2022-JP", "Content-Transfer-Encoding: 7bit",
                   "", iso2022jp(u"来週の予定をお送りします。"), "ASCII line"})),
       u"来週の予定をお送りします。\r\nASCII line",
       {}},
      {"Shift_JIS 8bit",
       reply(crlf({"Content-Type: text/plain; charset=Shift_JIS", "Content-Transfer-Encoding: 8bit",
                   "", sjis(u"ソフトウェア表示（半角ｶﾅ）")})),
       u"ソフトウェア表示（半角ｶﾅ）",
       {}},
      {"unlabelled 8-bit bytes that are not UTF-8 are Shift_JIS",
       reply(crlf({"Subject: none", "", sjis(u"ラベルのない本文")})),
       u"ラベルのない本文",
       {}},
      {"unlabelled bytes with JIS escapes are ISO-2022-JP",
       reply(crlf({"Subject: none", "", iso2022jp(u"エスケープ付き")})),
       u"エスケープ付き",
       {}},
      {"ISO-2022-JP label on UTF-8 bytes",
       reply(crlf({"Content-Type: text/plain; charset=iso-2022-jp", "", utf8(u"誤ったラベル")})),
       u"誤ったラベル",
       {}},
      {"an unknown charset shows valid UTF-8 as UTF-8",
       reply(crlf({"Content-Type: text/plain; charset=x-nobody-knows", "", utf8(u"未知の文字コード")})),
       u"未知の文字コード",
       {}},
      {"an unknown charset shows other bytes as Shift_JIS",
       reply(crlf({"Content-Type: text/plain; charset=x-nobody-knows", "", sjis(u"未知の文字コード")})),
       u"未知の文字コード",
       {}},
      {"a charset only the system knows goes to the converter",
       reply(crlf({"Content-Type: text/plain; charset=X-Upper", "", "shout"})),
       u"SHOUT",
       {}},
      {"an attachment named in RFC 2231 with three continuations",
       reply(crlf({"Content-Type: multipart/mixed; boundary=\"b1\"", "", "--b1",
                   "Content-Type: text/plain; charset=us-ascii", "", "See attached.", "--b1",
                   "Content-Type: application/pdf",
                   "Content-Disposition: attachment;",
                   " filename*0*=UTF-8''" + percent(fileName.substr(0, 9)) + ";",
                   " filename*1*=" + percent(fileName.substr(9, 9)) + ";",
                   " filename*2*=" + percent(fileName.substr(18)),
                   "Content-Transfer-Encoding: base64", "", "JVBERi0xLjQK", "--b1--"})),
       u"See attached.",
       {u"見積書_2024年度版.pdf"}},
      {"nested mixed > alternative > related",
       reply(crlf({"Content-Type: multipart/mixed; boundary=outer", "", "--outer",
                   "Content-Type: multipart/alternative; boundary=alt", "", "--alt",
                   "Content-Type: text/plain; charset=UTF-8", "", utf8(u"本文です。"), "--alt",
                   "Content-Type: multipart/related; boundary=rel", "", "--rel",
                   "Content-Type: text/html; charset=UTF-8", "", utf8(u"<p>HTML本文</p>"), "--rel",
                   "Content-Type: image/png; name=\"logo.png\"", "Content-ID: <logo@x>",
                   "Content-Disposition: inline", "Content-Transfer-Encoding: base64", "",
                   "iVBORw0KGgo=", "--rel--", "--alt--", "--outer",
                   "Content-Type: application/pdf; name=\"=?UTF-8?B?" +
                       base64(utf8(u"資料.pdf")) + "?=\"",
                   "Content-Disposition: attachment", "", "x", "--outer",
                   "Content-Type: image/png", "Content-Disposition: attachment", "", "y",
                   "--outer--"})),
       u"本文です。",
       {u"logo.png", u"資料.pdf", u"image/png"}},
      {"a missing closing boundary ends the last part at the end",
       reply(crlf({"Content-Type: multipart/mixed; boundary=open", "", "--open",
                   "Content-Type: text/plain", "", "first", "--open",
                   "Content-Type: text/plain; name=notes.txt", "", "second"})),
       u"first",
       {u"notes.txt"}},
      {"a quoted boundary with odd characters, and one that merely starts like it",
       reply(crlf({"Content-Type: multipart/mixed;", "\tboundary=\"" + oddBoundary + "\"", "",
                   "--" + oddBoundary, "", "--" + oddBoundary + "x is text", "more text",
                   "--" + oddBoundary + "--  "})),
       Text(u"--") + fromUtf8(oddBoundary) + u"x is text\r\nmore text",
       {}},
      {"LF-only line ends",
       "+OK\nSubject: lf\nContent-Type: text/plain; charset=UTF-8\n\n" + utf8(u"一行目\n二行目\n") + ".\n",
       u"一行目\r\n二行目",
       {}},
      {"dot-stuffing undone, the closing line and what follows dropped",
       reply(crlf({"Subject: dots", "", "..hidden", "...", ". not stuffed", "end"})) + "+OK junk\r\n",
       u".hidden\r\n..\r\n. not stuffed\r\nend",
       {}},
      {"a message that is only a header has an empty body",
       reply(crlf({"Subject: nothing"})),
       u"",
       {}},
      {"an enclosed message is listed by its subject, a part without a name by its type",
       reply(crlf({"Content-Type: multipart/mixed; boundary=m", "", "--m", "", "text", "--m",
                   "Content-Type: message/rfc822", "", "Subject: Weekly report", "", "inner", "--m",
                   "Content-Type: message/rfc822", "", "From: x", "", "inner", "--m--"})),
       u"text",
       {u"Weekly report", u"message/rfc822"}},
      {"an HTML part marked as an attachment is not the body",
       reply(crlf({"Content-Type: multipart/mixed; boundary=m", "", "--m",
                   "Content-Type: text/html; name=page.html", "Content-Disposition: attachment", "",
                   "<p>page</p>", "--m--"})),
       u"",
       {u"page.html"}},
  };
  return cases;
}

TEST(ReadMessage, ReadsTheSampleMessages) {
  FakeConverter converter;
  for (const MessageCase& c : messageCases()) {
    const ReadableMessage m = readMessage(c.message, &converter);
    EXPECT_EQ(show(m.body), show(c.body)) << c.what;
    std::vector<std::string> got, want;
    for (const Text& a : m.attachments) got.push_back(show(a));
    for (const Text& a : c.attachments) want.push_back(show(a));
    EXPECT_EQ(got, want) << c.what;
  }
}

// Nesting one level more than allowed turns the innermost multipart into an
// opaque part; a message of thousands of parts is still read whole.
TEST(ReadMessage, BoundsNestingAndPartCount) {
  auto nested = [](int levels) {
    std::string head, tail;
    for (int i = 0; i < levels; ++i) {
      const std::string b = "lvl" + std::to_string(i);
      head += crlf({"Content-Type: multipart/mixed; boundary=" + b, "", "--" + b});
      tail = crlf({"--" + b + "--"}) + tail;
    }
    return reply(head + crlf({"Content-Type: text/plain", "", "deep"}) + tail);
  };
  EXPECT_EQ(show(readMessage(nested(kMaxMimeDepth), nullptr).body), "deep");
  EXPECT_EQ(show(readMessage(nested(kMaxMimeDepth + 1), nullptr).body), "");

  auto manyParts = [](int n) {
    std::string m = crlf({"Content-Type: multipart/mixed; boundary=p", "", "--p", "", "body"});
    for (int i = 0; i < n; ++i)
      m += crlf({"--p", "Content-Type: application/octet-stream; name=f" + std::to_string(i), "", "x"});
    return reply(m + crlf({"--p--"}));
  };
  const ReadableMessage five = readMessage(manyParts(5000), nullptr);
  EXPECT_EQ(show(five.body), "body");
  ASSERT_EQ(five.attachments.size(), 5000u);
  EXPECT_EQ(show(five.attachments.back()), "f4999");
  const ReadableMessage many = readMessage(manyParts(30000), nullptr);
  EXPECT_GE(many.attachments.size(), 5000u);
  EXPECT_LT(many.attachments.size(), 10000u);
}

// Inputs shaped to make a careless reader rescan: each must finish at once
// (a quadratic reader needs minutes for these) and keep the text after it.
TEST(ReadMessage, PathologicalInputsStayLinear) {
  const std::size_t n = 200000;
  auto repeat = [n](std::string_view unit) {
    std::string s;
    while (s.size() < n) s += unit;
    return s;
  };
  const std::string html = "Content-Type: text/html\r\n\r\n";
  const struct {
    std::string message;
    std::string tail;  // what the body must end with
  } cases[] = {
      {reply(html + repeat("<!-- ") + "TAIL"), "TAIL"},
      {reply(html + repeat("<a \">\"") + " TAIL"), "TAIL"},
      {reply(html + repeat("<head>") + "</head> TAIL"), "TAIL"},
      {reply(html + repeat("<b") + " TAIL"), "TAIL"},
      {reply(html + repeat("<script>") + " TAIL"), "TAIL"},
      {reply(html + repeat("&#x1234") + " TAIL"), "TAIL"},
      {reply(html + repeat("<![CDATA[") + " TAIL"), "TAIL"},
      {reply("Content-Type: multipart/mixed; boundary=a\r\n\r\n" + repeat("--a\r\n")), ""},
      {reply("Content-Type: multipart/mixed; boundary=a\r\n\r\n" + repeat("--") + "\r\nTAIL"), ""},
      {reply("Content-Type: text/plain\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n" +
             repeat("=  ") + "TAIL"),
       "TAIL"},
  };
  for (const auto& c : cases) {
    const auto t0 = std::chrono::steady_clock::now();
    const ReadableMessage m = readMessage(c.message, nullptr);
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_LT(s, 2.0) << c.message.substr(0, 80);
    const std::string body = show(m.body);
    EXPECT_LE(body.size(), 4 * c.message.size());
    EXPECT_EQ(body.substr(body.size() - std::min(body.size(), c.tail.size())), c.tail)
        << c.message.substr(0, 80);
  }
}

TEST(DecodeBase64, SkipsForeignCharactersAndStopsAtThePad) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"QUJD", "ABC"},
      {"QUJDRA==", "ABCD"},
      {"QUJDREU=", "ABCDE"},
      {"QUJDREU", "ABCDE"},       // the pad left out
      {"QU\r\nJD\tRA==", "ABCD"},  // line breaks and tabs skipped
      {"Q*U!J.D", "ABC"},          // anything outside the alphabet skipped
      {"QQ==QUJD", "A"},           // nothing after the pad
      {"+/+/", "\xfb\xff\xbf"},
      {"", ""},
      {"=", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(decodeBase64(c.in), c.out) << c.in;
}

TEST(DecodeQuotedPrintable, UndoesEscapesAndSoftBreaks) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"a=3Db", "a=b"},
      {"=E3=81=82", "\xe3\x81\x82"},
      {"=e3=81=82", "\xe3\x81\x82"},  // lower-case hex
      {"soft=\r\nbreak", "softbreak"},
      {"soft=\nbreak", "softbreak"},
      {"soft= \t\r\nbreak", "softbreak"},  // white space an encoder left before the break
      {"hard\r\nbreak", "hard\r\nbreak"},
      {"a=ZZb", "a=ZZb"},  // not hex: kept
      {"a=4", "a=4"},      // cut short: kept
      {"a= b", "a= b"},
      {"end=", "end"},     // the last line's break went to the delimiter
      {"==41", "=A"},
  };
  for (const auto& c : cases) EXPECT_EQ(decodeQuotedPrintable(c.in), c.out) << c.in;
}

TEST(HtmlToText, MakesPlainText) {
  const struct {
    Text in, out;
  } cases[] = {
      {u"a  b\n\tc", u"a b c"},
      {u"<p>one</p><p>two</p>", u"one\r\n\r\ntwo"},
      {u"one<br>two<br/><br />three", u"one\r\ntwo\r\n\r\nthree"},
      {u"a<br><br><br><br><br><br>b", u"a\r\n\r\n\r\nb"},  // at most two empty lines
      {u"<div>a</div><div>b</div>c", u"a\r\nb\r\nc"},
      {u"<table><tr><td>1</td><td>2</td></tr><tr><td>3</td></tr></table>", u"1 2\r\n3"},
      {u"<ul><li>x<li>y</ul>", u"・x\r\n・y"},
      {u"a<hr>b", u"a\r\nb"},
      {u"<h2>Title</h2>text", u"Title\r\n\r\ntext"},
      {u"<SCRIPT type=x>if (a<b) alert('</p>')</script >after", u"after"},
      {u"<style>p{}</style><title>t</title>x", u"x"},
      {u"<head><meta charset=utf-8><title>t</title><li>junk</head><body>x", u"x"},
      {u"<head>no end to the head: shown", u"no end to the head: shown"},
      {u"a<!-- <p>hidden</p> -->b", u"ab"},
      {u"a<!-- never closed> b", u"a b"},
      {u"<!DOCTYPE html>x", u"x"},
      {u"<![CDATA[a<b>]]>c", u"a<b>c"},
      {u"x<![CDATA[unclosed <b>", u"xunclosed <b>"},
      {u"&amp;&lt;&gt;&quot;&apos;&copy;&yen;&hellip;&mdash;&ndash;&rsquo;&lsquo;&ldquo;&rdquo;",
       u"&<>\"'©¥…—–’‘“”"},
      {u"&#65;&#x42;&#X43;&#0;&#xD800;&#99999999999;", u"ABC\uFFFD\uFFFD\uFFFD"},
      {u"&#x1F600;", u"\U0001F600"},
      {u"&unknown; & &amp", u"&unknown; & &amp"},
      {u"a&nbsp;&nbsp;b", u"a  b"},
      {u"<a href=\"https://x.jp/?a=1&amp;b=2\">go</a>", u"go (https://x.jp/?a=1&b=2)"},
      {u"<a href=https://x.jp/>https://x.jp/</a>", u"https://x.jp/"},
      {u"<a href=\"mailto:a@x.jp\">mail</a>", u"mail"},
      {u"<a href=\"https://x.jp/\"><img src=a.png></a>", u""},
      {u"<a title=\"1 > 0\" href='https://q.jp/'>q</a>", u"q (https://q.jp/)"},
      {u"<pre>a  b\n  c</pre>d  e", u"a  b\r\n  c\r\nd e"},
      {u"a < b and c<d", u"a < b and c<d"},
      {u"text <b unclosed", u"text <b unclosed"},
      {u"<p>  </p>  <p> x </p>", u"x"},
  };
  for (const auto& c : cases) EXPECT_EQ(show(htmlToText(c.in)), show(c.out)) << show(c.in);
}

}  // namespace
}  // namespace tarvi
