#include "monitor/mail/extract.h"

#include <gtest/gtest.h>

#include <tuple>

#include "common/cp932.h"
#include "tests/fakes/fake_charset.h"
#include "tests/unit/mail/mail_samples.h"

namespace tarvi {
namespace {

using samples::bWord;
using samples::jis;
using samples::lines;

std::string show(TextView t) { return toUtf8(t); }

// A TOP reply: status line, headers, blank line, body lines, closing dot.
Text topReply(TextView headers, TextView body = u"body\r\n") {
  return u"+OK\r\n" + Text(headers) + u"\r\n" + Text(body) + u".\r\n";
}

TEST(ExtractSubject, UnfoldsAndDecodes) {
  const struct {
    Text reply;
    Text subject;
  } cases[] = {
      {topReply(lines({u"Subject: hello", u"From: a@b"})), u"hello"},
      {topReply(lines({u"subject: hello"})), u"hello"},
      // Continuations with a TAB and with two spaces join without spaces.
      {topReply(lines({u"Subject: abc", u"\tdef", u"  ghi", u"From: a@b"})), u"abcdefghi"},
      {topReply(lines({u"Subject: a\tb c"})), u"ab c"},
      // The first match anywhere wins, also at the end of a longer name.
      {topReply(lines({u"X-Subject: one", u"Subject: two"})), u"one"},
      {topReply(lines({u"Subject:nospace"})), u""},
      {topReply(lines({u"From: a@b"})), u""},
      // No line break after the subject: the reply was cut short.
      {u"Subject: abc", u""},
      {u"Subject: abc " + bWord(u"日本"), u"abc "},
      {u"Subject: abc\r\n  ", u""},
      // A line break left by a cut reply would break the row: a space.
      {u"Subject: a\tb\r\n\tc " + bWord(u"日本"), u"ab  c "},
      {u"Subject: abc\r\n", u"abc"},
      // Line breaks and other controls that decoding brings in become spaces.
      {topReply(lines({u"Subject: " + bWord(u"二行\r\n目", u"=?ISO-2022-JP?B?") + u"\x01"})), u"二行  目 "},
      {u"Subject: ", u""},
      // Encoded words as Japanese mail programs fold them.
      {topReply(lines({u"Subject: " + bWord(u"週末の"), u" " + bWord(u"打ち合わせ"),
                       u"\t" + bWord(u"について")})),
       u"週末の打ち合わせについて"},
      {topReply(lines({u"Subject: " + bWord(u"見積書", u"=?iso-2022-jp?b?")})), u"見積書"},
      {topReply(lines({u"Subject: Re: " + bWord(u"お問い合わせ") + u" [No.123]"})),
       u"Re: お問い合わせ [No.123]"},
      // A passage split between two folded words still converts.
      {topReply(lines({u"Subject: =?ISO-2022-JP?B?" + samples::base64(u"\x1b$B%F") + u"?=",
                       u" =?ISO-2022-JP?B?" + samples::base64(u"%9%H\x1b(B") + u"?="})),
       u"テスト"},
      // Raw JIS and raw half-width kana (sent as 8-bit code page 932).
      {topReply(lines({u"Subject: " + jis(u"ご案内")})), u"ご案内"},
      {topReply(lines({u"Subject: ｾｰﾙのお知らせ"})), u"ｾｰﾙのお知らせ"},
      // The older opening escape is removed from subject words.
      {topReply(lines({u"Subject: =?ISO-2022-JP?B?" + samples::base64(u"\x1b$@%F\x1b(J") +
                       u"?="})),
       u"%F (J"},  // an escape a broken passage left is no text: a space
      {topReply(lines({u"Subject: =?UTF-8?B?44OG44K544OI?="})), u"=?UTF-8?B?44OG44K544OI?="},
  };
  for (const auto& c : cases) EXPECT_EQ(extractSubject(c.reply), c.subject) << show(c.reply);
}

TEST(ExtractSender, TakesTheFirstLine) {
  const struct {
    Text reply;
    Text sender;
  } cases[] = {
      {topReply(lines({u"From: a@example.jp"})), u"a@example.jp"},
      {topReply(lines({u"from: a@example.jp"})), u"a@example.jp"},
      {topReply(lines({u"From: " + bWord(u"山田"), u" <yamada@example.jp>"})), u"山田"},
      {topReply(lines({u"From: " + bWord(u"山田") + u" " + bWord(u"太郎") +
                       u" <taro@example.jp>"})),
       u"山田 太郎 <taro@example.jp>"},
      {topReply(lines({u"From: \"" + bWord(u"営業部", u"=?iso-2022-jp?B?") +
                       u"\" <sales@example.jp>"})),
       u"\"営業部\" <sales@example.jp>"},
      {topReply(lines({u"From: a\tb"})), u"ab"},
      {topReply(lines({u"Reply-From: x", u"From: y"})), u"x"},
      {topReply(lines({u"From:a@b"})), u""},
      {u"From: tail", u"tail"},
      {u"From: ", u""},
  };
  for (const auto& c : cases) EXPECT_EQ(extractSender(c.reply), c.sender) << show(c.reply);
}

TEST(ListTopReply, FillsTheRecord) {
  MailItem r;
  r.marked = true;
  const Text reply = topReply(lines({u"From: " + bWord(u"山田") + u" <y@example.jp>",
                                     u"Subject: " + bWord(u"資料"),
                                     u"Content-Type: multipart/mixed;", u"\tBOUNDARY=\"xyz\""}));
  listTopReply(r, reply);
  EXPECT_EQ(r.sender, u"山田 <y@example.jp>");
  EXPECT_EQ(r.subject, u"資料");
  EXPECT_TRUE(r.hasAttachment);
  EXPECT_FALSE(r.marked);

  listTopReply(r, topReply(lines({u"From: a", u"Subject: b"})));
  EXPECT_FALSE(r.hasAttachment);
}

TEST(ListTopReply, KeepsTheBodyOfTheSameMessageOnly) {
  auto reply = [](const char16_t* from, const char16_t* subject) {
    return topReply(lines({u"From: " + Text(from), u"Subject: " + Text(subject)}));
  };
  // The same message again; another sender, or only another subject, at its number.
  for (auto [from, subject, kept] :
       {std::tuple{u"f", u"s", true}, {u"g", u"s", false}, {u"f", u"t", false}}) {
    MailItem r;
    listTopReply(r, reply(u"f", u"s"));
    r.body = u"body";
    r.attachmentNames = u"\"n\" ";
    listTopReply(r, reply(from, subject));
    EXPECT_EQ(r.body, kept ? u"body" : u"") << toUtf8(from) << " " << toUtf8(subject);
    EXPECT_EQ(r.attachmentNames, u"\"n\" ");  // names are left as they were
  }
}

// Messages for the retrieve tests.
const Text kPreambleLine = u"This is a multi-part message in MIME format.";

Text mixed(TextView text, TextView attachmentHeader) {
  const Text b = u"MIX";
  return u"+OK 9999 octets\r\n" +
         lines({u"From: a@example.jp", u"Subject: s", u"MIME-Version: 1.0",
                u"Content-Type: multipart/mixed; boundary=\"" + b + u"\"", u"", kPreambleLine,
                u"", u"--" + b, u"Content-Type: text/plain; charset=ISO-2022-JP",
                u"Content-Transfer-Encoding: 7bit", u"", Text(text), u"--" + b,
                Text(attachmentHeader), u"Content-Transfer-Encoding: base64", u"",
                u"QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVo=", u"", u"--" + b + u"--", u"."});
}

const Text kDocHeader = u"Content-Type: application/msword;\r\n name=\"a.doc\"";

struct RetrCase {
  const char* what;
  Text reply, body;
  bool hasAttach;
  Text names;
};

// Checks what extractRetrieved makes of the case's reply; what is left of the reply.
Text expectRetrieved(const RetrCase& c) {
  Text reply = c.reply;
  const RetrievedMail m = extractRetrieved(reply);
  EXPECT_EQ(m.body, c.body) << show(m.body);
  EXPECT_EQ(m.hasAttachment, c.hasAttach);
  EXPECT_EQ(m.attachmentNames, c.names) << show(m.attachmentNames);
  return reply;
}

// An attachment header whose name opener stands `offset` characters after
// the part's start (the boundary text after "--").
Text namedAt(std::size_t offset) {
  return u"Content-Type: a/b; x=\"" + Text(offset - 30, u'z') + u"\"; name=\"c.bin\"";
}

TEST(StoreRetrieved, StoresBodyAndAttachmentsButKeepsTheListing) {
  MailItem r;
  r.hasAttachment = true;  // the multipart guess of the check
  r.attachmentNames = u"\"old\" ";
  r.subject = u"kept";
  r.marked = true;
  const Text body = jis(u"本日の会議は") + u"\t15時から\r\n" + jis(u"です。") + u"\r\n";
  const Text original = u"+OK\r\n" + lines({u"From: a", u"Subject: s", u""}) + body + u".\r\n";
  Text reply = original;
  storeRetrieved(r, reply);
  EXPECT_EQ(r.body, u"本日の会議は15時から\r\nです。\r\n.\r\n");
  EXPECT_FALSE(r.hasAttachment);
  EXPECT_EQ(r.attachmentNames, u"");
  EXPECT_EQ(r.subject, u"kept");
  EXPECT_TRUE(r.marked);
  EXPECT_EQ(reply, original);

  Text multipart = mixed(u"text", kDocHeader);
  storeRetrieved(r, multipart);
  EXPECT_TRUE(r.hasAttachment);
  EXPECT_EQ(r.attachmentNames, u"\"a.doc\" ");
  EXPECT_EQ(r.subject, u"kept");

  Text headersOnly = u"+OK\r\nFrom: a\r\n.\r\n";
  storeRetrieved(r, headersOnly);
  EXPECT_EQ(r.body, u"");
}

TEST(StoreRetrieved, Multipart) {
  Text longText, longDecoded;
  for (int i = 0; i < 12; ++i) {
    longText += jis(u"長い本文の行です。") + u"line " + decimal(i) + u"\r\n";
    longDecoded += u"長い本文の行です。line " + decimal(i) + u"\r\n";
  }
  longText += u"end";
  longDecoded += u"end";
  ASSERT_GT(longText.size(), 300u);
  const Text at300 = mixed(longText, namedAt(300));
  ASSERT_EQ(at300.find(u"name=\"c.bin") - at300.find(u"MIX\r\nContent-Type: a/b"), 300u);

  const RetrCase cases[] = {
      {"mixed, long text part", mixed(longText, kDocHeader), u"\r\n" + longDecoded + u"\r\n",
       true, u"\"a.doc\" "},
      // The attachment's name lies within 300 characters of the text part's
      // start, so the text part is taken for the named one.
      {"mixed, short text part", mixed(u"short", kDocHeader), u"\r\n", true, u"\"a.doc\" "},
      {"Japanese attachment name",
       mixed(longText, u"Content-Type: application/pdf;\r\n name=\"" + bWord(u"見積書.pdf") +
                           u"\"\r\nContent-Disposition: attachment;\r\n filename=\"" +
                           bWord(u"見積書.pdf") + u"\""),
       u"\r\n" + longDecoded + u"\r\n", true, u"\"見積書.pdf\" "},
      {"name only in filename=",
       mixed(longText, u"Content-Type: application/octet-stream\r\n"
                       u"Content-Disposition: attachment; filename=\"x.zip\""),
       u"\r\n" + longDecoded + u"\r\n", true, u"\"x.zip\" "},
      {"name opener 300 characters into the part counts", mixed(longText, namedAt(300)),
       u"\r\n" + longDecoded + u"\r\n", true, u"\"c.bin\" "},
      {"name opener 301 characters into it does not", mixed(longText, namedAt(301)),
       u"\r\n" + longDecoded + u"\r\n", false, u""},
      {"alternative",
       u"+OK\r\n" + lines({u"From: a", u"Content-Type: multipart/alternative; boundary=\"ALT\"",
                           u"", kPreambleLine, u"", u"--ALT",
                           u"Content-Type: text/plain; charset=ISO-2022-JP", u"",
                           jis(u"こんにちは"), u"", u"--ALT",
                           u"Content-Type: text/html; charset=ISO-2022-JP", u"",
                           u"<p>" + jis(u"こんにちは") + u"</p>", u"", u"--ALT--", u"."}),
       u"\r\nこんにちは\r\n\r\n", false, u""},
      {"two attachments",
       u"+OK\r\n" + lines({u"Content-Type: multipart/mixed; boundary=\"B\"", u"", u"--B",
                           u"Content-Type: text/plain", u"", Text(400, u'x'), u"--B",
                           u"Content-Type: image/png; name=\"1.png\"", u"", u"AAAA", u"--B",
                           u"Content-Type: image/png; name=\"2.png\"", u"", u"AAAA", u"--B--",
                           u"."}),
       Text(400, u'x') + u"\r\n", true, u"\"1.png\" \"2.png\" "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Text reply = expectRetrieved(c);
    // What is left of the reply is the headers and the body, no attachment.
    EXPECT_EQ(reply.find(u"AAAA"), Text::npos);
    EXPECT_EQ(reply.find(u"QUJD"), Text::npos);
    EXPECT_EQ(reply.find(kPreambleLine), Text::npos);
  }
}

TEST(StoreRetrieved, CutsLongTextBeforeTheFirstAttachment) {
  Text text;
  for (int i = 0; text.size() < 6000; ++i) text += u"line " + decimal(i) + u"\r\n";
  const Text original = mixed(text, kDocHeader);
  const std::size_t textAt = original.find(text);
  ASSERT_LT(textAt, 5000u);
  Text reply = original;
  const RetrievedMail m = extractRetrieved(reply);
  EXPECT_EQ(m.body, u"\r\n" + text.substr(0, 5000 - textAt));
  EXPECT_TRUE(m.hasAttachment);
  EXPECT_EQ(m.attachmentNames, u"\"a.doc\" ");
}

TEST(StoreRetrieved, NestedMultipart) {
  Text reply =
      u"+OK\r\n" +
      lines({u"Content-Type: multipart/mixed; boundary=\"OUT\"", u"", kPreambleLine, u"",
             u"--OUT", u"Content-Type: multipart/alternative; boundary=\"IN\"", u"", u"--IN",
             u"Content-Type: text/plain", u"", u"hello", u"--IN", u"Content-Type: text/html",
             u"", u"<p>hello</p>", u"--IN--", u"", u"--OUT",
             u"Content-Type: application/pdf; name=\"b.pdf\"", u"", u"AAAA", u"--OUT--", u"."});
  const RetrievedMail m = extractRetrieved(reply);
  EXPECT_TRUE(m.hasAttachment);
  EXPECT_EQ(m.attachmentNames, u"\"b.pdf\" ");
  EXPECT_NE(m.body.find(u"hello"), Text::npos);
  EXPECT_EQ(m.body.find(u"multipart/alternative"), Text::npos);
  EXPECT_EQ(m.body.find(u"AAAA"), Text::npos);
}

TEST(StoreRetrieved, MalformedRepliesDegrade) {
  const RetrCase cases[] = {
      {"empty", u"", u"", false, u""},
      {"boundary opener at the very end", u"+OK\r\nX: y\r\n\r\nb\r\nboundary=\"",
       u"b\r\nboundary=\"", false, u""},
      {"boundary without closing quote",
       u"+OK\r\nContent-Type: multipart/mixed; boundary=\"abc\r\n\r\n--abc\r\n"
       u"Content-Type: text/plain; name=\"x\"\r\n\r\nhi\r\n.\r\n",
       u"--abc\r\nContent-Type: text/plain; name=\"x\"\r\n\r\nhi\r\n.\r\n", false, u""},
      {"name without closing quote and line break",
       u"+OK\r\nContent-Type: multipart/mixed; boundary=\"B\"\r\n\r\n--B\r\n"
       u"Content-Type: text/plain\r\n\r\n" + Text(400, u'x') + u"\r\n--B\r\n"
       u"Content-Type: image/png; name=\"p.png\r\n\r\nAAAA\r\n.\r\n",
       Text(400, u'x') + u"\r\n", true, u"\"\" "},
      {"part without a blank line after its header",
       u"boundary=\"B\"\r\nB\r\nContent-Type: x", u"", false, u""},
      {"name with line breaks that meet when deleted",
       u"boundary=\"B\"\r\nB\r\nContent-Type: x; name=\"a\r\r\n\n\tb\"\r\n\r\n", u"", true,
       u"\"ab\" "},
      {"boundary opener only", u"boundary=\"B\"", u"", false, u""},
      // The text before the named part is cut inside the opener itself.
      {"part start right after the opener", u"boundary=\"B\"B\r\nContent-Type: name=\"n\"\r\n",
       u"", true, u"\"n\" "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    expectRetrieved(c);
  }
}


// Raw replies as the server sends them, for the full decoding.
std::string rawTop(const std::string& headers) { return "+OK\r\n" + headers + "\r\n\r\nbody\r\n.\r\n"; }

TEST(ListTopReplyAll, DecodesEveryCharsetAndKeepsTheIdentityOfListTopReply) {
  // "【お知らせ" cut inside "ら" across two folded UTF-8 words; a Latin-1 name.
  const std::string reply = rawTop(
      "From: =?ISO-8859-1?Q?Ren=E9_M=FCller?= <rene@example.de>\r\n"
      "Subject: =?UTF-8?B?44CQ44GK55+l4w==?=\r\n =?UTF-8?B?gonjgZs=?= No.\t1\r\n"
      "Message-ID: <1@example.de>\r\n"
      "Content-Type: multipart/mixed;\r\n boundary=\"b\"");
  MailItem r;
  r.marked = true;
  listTopReplyAll(r, reply, nullptr);
  EXPECT_EQ(toUtf8(r.sender), "René Müller <rene@example.de>");
  EXPECT_EQ(toUtf8(r.subject), "【お知らせ No. 1");  // no TAB: it separates the popup's columns
  EXPECT_TRUE(r.hasAttachment);
  EXPECT_FALSE(r.marked);
  Text decoded = cp932::decode(reply);
  EXPECT_EQ(r.identity, messageIdentity(decoded));
  EXPECT_EQ(r.identity, u"id <1@example.de>");

  // Without a Message-ID the identity is made of today's reading of the
  // fields, so that the retrieve and delete sessions still recognise it.
  const std::string lf = "+OK\nFrom: =?UTF-8?B?5bGx55Sw?= <y@x>\nSubject: =?UTF-8?Q?caf=C3=A9?=\n"
                         "Date: Mon, 7 Dec 2026\nContent-Type: multipart/alternative; boundary=a\n\nb\n.\n";
  listTopReplyAll(r, lf, nullptr);
  EXPECT_EQ(toUtf8(r.sender), "山田 <y@x>");
  EXPECT_EQ(toUtf8(r.subject), "café");
  EXPECT_FALSE(r.hasAttachment);  // the parts of an alternative are one text
  decoded = cp932::decode(lf);
  normalizeLineEnds(decoded);
  EXPECT_EQ(r.identity, messageIdentity(decoded));

  // An unknown charset goes to the converter.
  fakes::FakeCharsets other;
  listTopReplyAll(r, rawTop("From: a\r\nSubject: =?koi8-r?B?8NLJ18XU?="), &other);
  EXPECT_EQ(toUtf8(r.subject), "Привет");
  EXPECT_FALSE(r.hasAttachment);
}

// A hostile server's header fields of megabytes: every record keeps at most
// a couple of thousand characters of each, in both readings, and the
// identity stays the one the retrieve and delete sessions compute.
TEST(ListTopReply, FieldsOfMegabytesAreClipped) {
  const std::string huge(1 << 20, 'x');
  const struct {
    const char* name;
    std::string header;
  } cases[] = {
      {"subject", "From: a@b\r\nSubject: " + huge},
      {"sender", "From: " + huge + "\r\nSubject: s"},
      {"message id", "From: a@b\r\nSubject: s\r\nMessage-ID: <" + huge + ">"},
      {"date", "From: a@b\r\nSubject: s\r\nDate: " + huge},
  };
  constexpr std::size_t kBound = 3 * 2048 + 64;
  for (const auto& c : cases) {
    const std::string reply = "+OK\r\n" + c.header + "\r\n\r\nbody\r\n.\r\n";
    const Text decoded = cp932::decode(reply);
    MailItem top, all;
    listTopReply(top, decoded);
    listTopReplyAll(all, reply, nullptr);
    for (const MailItem* r : {&top, &all}) {
      EXPECT_LE(r->subject.size(), 2048u) << c.name;
      EXPECT_LE(r->sender.size(), 2048u) << c.name;
      EXPECT_LE(r->identity.size(), kBound) << c.name;
      EXPECT_EQ(r->identity, messageIdentity(decoded)) << c.name;
    }
    EXPECT_EQ(top.subject, all.subject) << c.name;
  }
  MailItem r;
  listTopReply(r, cp932::decode("+OK\r\nFrom: a@b\r\nSubject: " + huge + "\r\n\r\n.\r\n"));
  EXPECT_EQ(r.subject, Text(2048, u'x'));  // the beginning is what is kept
}

TEST(ListTopReplyAll, KeepsTheBodyOfTheSameMessageOnly) {
  const std::string first = rawTop("From: f\r\nSubject: =?UTF-8?B?5Lya6K2w?=");
  for (auto [again, kept] : {std::pair{first, true},
                             {rawTop("From: f\r\nSubject: =?UTF-8?B?6LOH5paZ?="), false},
                             {rawTop("From: g\r\nSubject: =?UTF-8?B?5Lya6K2w?="), false}}) {
    MailItem r;
    listTopReplyAll(r, first, nullptr);
    r.body = u"body";
    listTopReplyAll(r, again, nullptr);
    EXPECT_EQ(r.body, kept ? u"body" : u"") << again;
  }
}

TEST(StoreRetrievedAll, ReadableBodyAndAttachmentNames) {
  MailItem r;
  r.subject = u"kept";
  r.marked = true;
  const std::string mixed =
      "+OK 999 octets\r\nFrom: a\r\nSubject: s\r\nContent-Type: multipart/mixed; boundary=\"B\"\r\n\r\n"
      "--B\r\nContent-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n\r\n"
      "5pys5pel44Gv5pm044KM44CCCg==\r\n"
      "--B\r\nContent-Type: application/pdf\r\nContent-Disposition: attachment;\r\n"
      " filename*=UTF-8''%E8%A6%8B%E7%A9%8D.pdf\r\nContent-Transfer-Encoding: base64\r\n\r\nJVBERg==\r\n"
      "--B\r\nContent-Type: text/plain; name=\"=?UTF-8?B?44Oh44Oi?=.txt\"\r\n"
      "Content-Disposition: attachment\r\n\r\nmemo\r\n--B--\r\n.\r\n";
  storeRetrievedAll(r, mixed, nullptr);
  EXPECT_EQ(toUtf8(r.body).substr(0, 18), "本日は晴れ。");
  EXPECT_TRUE(r.hasAttachment);
  EXPECT_EQ(toUtf8(r.attachmentNames), "\"見積.pdf\" \"メモ.txt\" ");
  EXPECT_EQ(r.subject, u"kept");
  EXPECT_TRUE(r.marked);

  const std::string html =
      "+OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
      "<style>p{}</style><p>caf=C3=A9 &amp; t=\r\nea</p>\r\n.\r\n";
  storeRetrievedAll(r, html, nullptr);
  EXPECT_NE(toUtf8(r.body).find("café & tea"), std::string::npos) << toUtf8(r.body);
  EXPECT_EQ(toUtf8(r.body).find('<'), std::string::npos) << toUtf8(r.body);
  EXPECT_FALSE(r.hasAttachment);
  EXPECT_EQ(r.attachmentNames, u"");
}

}  // namespace
}  // namespace tarvi
