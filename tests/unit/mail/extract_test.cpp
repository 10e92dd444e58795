#include "monitor/mail/extract.h"

#include <gtest/gtest.h>

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
      {topReply(lines({u"SUBJECT: hello"})), u"hello"},
      // Continuations with a TAB and with two spaces join without spaces.
      {topReply(lines({u"Subject: abc", u"\tdef", u"  ghi", u"From: a@b"})), u"abcdefghi"},
      {topReply(lines({u"Subject: abc", u" def"})), u"abcdef"},
      {topReply(lines({u"Subject: a\tb c"})), u"ab c"},
      // The first match anywhere wins, also at the end of a longer name.
      {topReply(lines({u"X-Subject: one", u"Subject: two"})), u"one"},
      {topReply(lines({u"Subject:nospace"})), u""},
      {topReply(lines({u"From: a@b"})), u""},
      // No line break after the subject: the reply was cut short.
      {u"Subject: abc", u""},
      {u"Subject: abc " + bWord(u"日本"), u"abc "},
      {u"Subject: abc\r\n  ", u""},
      {u"Subject: a\tb\r\n\tc " + bWord(u"日本"), u"ab\r\nc "},
      {u"Subject: abc\r\n", u"abc"},
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
       u"%F\x1b(J"},
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
      {u"", u""},
  };
  for (const auto& c : cases) EXPECT_EQ(extractSender(c.reply), c.sender) << show(c.reply);
}

TEST(SubListSet, FillsTheRecord) {
  MailList list;
  list.redim(2);
  list.at(2, 3).Marked = -1;
  const Text reply = topReply(lines({u"From: " + bWord(u"山田") + u" <y@example.jp>",
                                     u"Subject: " + bWord(u"資料"),
                                     u"Content-Type: multipart/mixed;",
                                     u"\tBOUNDARY=\"xyz\""}));
  ASSERT_TRUE(subListSet(list, 2, 3, reply));
  const MailItem& r = list.at(2, 3);
  EXPECT_EQ(r.From, u"山田 <y@example.jp>");
  EXPECT_EQ(r.Subject, u"資料");
  EXPECT_TRUE(r.HasAttach);
  EXPECT_EQ(r.Marked, 0);

  ASSERT_TRUE(subListSet(list, 2, 3, topReply(lines({u"From: a", u"Subject: b"}))));
  EXPECT_FALSE(list.at(2, 3).HasAttach);
  EXPECT_EQ(list.at(1, 3), MailItem{});

  // Outside the table nothing happens.
  const MailList before = list;
  EXPECT_FALSE(subListSet(list, 3, 1, reply));
  EXPECT_FALSE(subListSet(list, 1, 11, reply));
  EXPECT_FALSE(subListSet(list, 0, 1, reply));
  EXPECT_EQ(list.at(2, 3), before.at(2, 3));
}

TEST(SubListSet, KeepsBodiesOfTheSameMessagesOnly) {
  MailList list;
  list.redim(1);
  auto reply = [](int k) {
    return topReply(lines({u"From: sender" + decimal(k), u"Subject: subject" + decimal(k)}));
  };
  for (int m = 1; m <= 4; ++m) {
    ASSERT_TRUE(subListSet(list, 1, m, reply(m)));
    list.at(1, m).Body = u"body" + decimal(m);
    list.at(1, m).AttachNames = u"\"n" + decimal(m) + u"\" ";
  }
  // Same mailbox again: every body stays.
  for (int m = 1; m <= 4; ++m) ASSERT_TRUE(subListSet(list, 1, m, reply(m)));
  for (int m = 1; m <= 4; ++m) EXPECT_EQ(list.at(1, m).Body, u"body" + decimal(m));

  // Message 3 deleted on the server: number 3 is now the former 4.
  ASSERT_TRUE(subListSet(list, 1, 1, reply(1)));
  ASSERT_TRUE(subListSet(list, 1, 2, reply(2)));
  ASSERT_TRUE(subListSet(list, 1, 3, reply(4)));
  EXPECT_EQ(list.at(1, 1).Body, u"body1");
  EXPECT_EQ(list.at(1, 2).Body, u"body2");
  EXPECT_EQ(list.at(1, 3).Body, u"");
  EXPECT_EQ(list.at(1, 3).From, u"sender4");
  EXPECT_EQ(list.at(1, 3).AttachNames, u"\"n3\" ");  // names are left as they were

  // Only the subject changed: still another message.
  ASSERT_TRUE(subListSet(list, 1, 2,
                         topReply(lines({u"From: sender2", u"Subject: other"}))));
  EXPECT_EQ(list.at(1, 2).Body, u"");
}

// Messages for the retrieve tests.
const Text kPreambleLine = u"This is a multi-part message in MIME format.";

Text mixed(TextView text, TextView attachmentHeader, TextView boundary = u"MIX") {
  const Text b(boundary);
  return u"+OK 9999 octets\r\n" +
         lines({u"From: a@example.jp", u"Subject: s", u"MIME-Version: 1.0",
                u"Content-Type: multipart/mixed; boundary=\"" + b + u"\"", u"", kPreambleLine,
                u"", u"--" + b, u"Content-Type: text/plain; charset=ISO-2022-JP",
                u"Content-Transfer-Encoding: 7bit", u"", Text(text), u"--" + b,
                Text(attachmentHeader), u"Content-Transfer-Encoding: base64", u"",
                u"QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVo=", u"", u"--" + b + u"--", u"."});
}

Text docHeader(TextView name = u"a.doc") {
  return u"Content-Type: application/msword;\r\n name=\"" + Text(name) + u"\"";
}

TEST(SubListSet2, PlainMessage) {
  MailList list;
  list.redim(1);
  list.at(1, 1).HasAttach = true;
  list.at(1, 1).Subject = u"kept";
  list.at(1, 1).Marked = -1;
  const Text body = jis(u"本日の会議は") + u"\t15時から\r\n" + jis(u"です。") + u"\r\n";
  const Text original = u"+OK\r\n" + lines({u"From: a", u"Subject: s", u""}) + body + u".\r\n";
  Text reply = original;
  ASSERT_TRUE(subListSet2(list, 1, 1, reply));
  const MailItem& r = list.at(1, 1);
  EXPECT_EQ(r.Body, u"本日の会議は15時から\r\nです。\r\n.\r\n");
  EXPECT_FALSE(r.HasAttach);
  EXPECT_EQ(r.AttachNames, u"");
  EXPECT_EQ(r.Subject, u"kept");
  EXPECT_EQ(r.Marked, -1);
  EXPECT_EQ(reply, original);

  Text headersOnly = u"+OK\r\nFrom: a\r\n.\r\n";
  ASSERT_TRUE(subListSet2(list, 1, 1, headersOnly));
  EXPECT_EQ(list.at(1, 1).Body, u"");

  Text outside = original;
  EXPECT_FALSE(subListSet2(list, 2, 1, outside));
}

TEST(SubListSet2, Multipart) {
  const Text longText = [] {
    Text t;
    for (int i = 0; i < 12; ++i) t += jis(u"長い本文の行です。") + u"line " + decimal(i) + u"\r\n";
    return t + u"end";
  }();
  const Text longDecoded = [] {
    Text t;
    for (int i = 0; i < 12; ++i) t += u"長い本文の行です。line " + decimal(i) + u"\r\n";
    return t + u"end";
  }();
  ASSERT_GT(longText.size(), 300u);

  const struct {
    const char* what;
    Text reply;
    Text body;
    bool hasAttach;
    Text names;
  } cases[] = {
      {"mixed, long text part", mixed(longText, docHeader()), u"\r\n" + longDecoded + u"\r\n",
       true, u"\"a.doc\" "},
      // The attachment's name lies within 300 characters of the text part's
      // start, so the text part is taken for the named one.
      {"mixed, short text part", mixed(u"short", docHeader()), u"\r\n", true, u"\"a.doc\" "},
      {"Japanese attachment name",
       mixed(longText, u"Content-Type: application/pdf;\r\n name=\"" + bWord(u"見積書.pdf") +
                           u"\"\r\nContent-Disposition: attachment;\r\n filename=\"" +
                           bWord(u"見積書.pdf") + u"\""),
       u"\r\n" + longDecoded + u"\r\n", true, u"\"見積書.pdf\" "},
      {"name only in filename=",
       mixed(longText, u"Content-Type: application/octet-stream\r\n"
                       u"Content-Disposition: attachment; filename=\"x.zip\""),
       u"\r\n" + longDecoded + u"\r\n", true, u"\"x.zip\" "},
      {"name opener at 300 counts",
       mixed(longText, u"Content-Type: a/b; x=\"" + Text(270, u'z') + u"\"; name=\"c.bin\""),
       u"\r\n" + longDecoded + u"\r\n", true, u"\"c.bin\" "},
      {"name opener at 301 does not",
       mixed(longText, u"Content-Type: a/b; x=\"" + Text(271, u'z') + u"\"; name=\"c.bin\""),
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
    if (std::string(c.what).starts_with("name opener at ")) {
      const std::size_t p = c.reply.find(u"MIX\r\nContent-Type: a/b");
      const std::size_t n = c.reply.find(u"name=\"c.bin");
      ASSERT_EQ(n - p, static_cast<std::size_t>(std::stoi(c.what + 15)));
    }
    Text reply = c.reply;
    const RetrievedMail m = extractRetrieved(reply);
    EXPECT_EQ(m.Body, c.body) << show(m.Body);
    EXPECT_EQ(m.HasAttach, c.hasAttach);
    EXPECT_EQ(m.AttachNames, c.names);
    // What is left of the reply is the headers and the body, no attachment.
    EXPECT_EQ(reply.find(u"AAAA"), Text::npos);
    EXPECT_EQ(reply.find(u"QUJD"), Text::npos);
    EXPECT_EQ(reply.find(kPreambleLine), Text::npos);
  }
}

TEST(SubListSet2, CutsLongTextBeforeTheFirstAttachment) {
  Text text;
  for (int i = 0; text.size() < 6000; ++i) text += u"line " + decimal(i) + u"\r\n";
  const Text original = mixed(text, docHeader());
  const std::size_t textAt = original.find(text);
  ASSERT_LT(textAt, 5000u);
  Text reply = original;
  const RetrievedMail m = extractRetrieved(reply);
  EXPECT_EQ(m.Body, u"\r\n" + text.substr(0, 5000 - textAt));
  EXPECT_TRUE(m.HasAttach);
  EXPECT_EQ(m.AttachNames, u"\"a.doc\" ");
}

TEST(SubListSet2, NestedMultipart) {
  Text reply =
      u"+OK\r\n" +
      lines({u"Content-Type: multipart/mixed; boundary=\"OUT\"", u"", kPreambleLine, u"",
             u"--OUT", u"Content-Type: multipart/alternative; boundary=\"IN\"", u"", u"--IN",
             u"Content-Type: text/plain", u"", u"hello", u"--IN", u"Content-Type: text/html",
             u"", u"<p>hello</p>", u"--IN--", u"", u"--OUT",
             u"Content-Type: application/pdf; name=\"b.pdf\"", u"", u"AAAA", u"--OUT--", u"."});
  const RetrievedMail m = extractRetrieved(reply);
  EXPECT_TRUE(m.HasAttach);
  EXPECT_EQ(m.AttachNames, u"\"b.pdf\" ");
  EXPECT_NE(m.Body.find(u"hello"), Text::npos);
  EXPECT_EQ(m.Body.find(u"multipart/alternative"), Text::npos);
  EXPECT_EQ(m.Body.find(u"AAAA"), Text::npos);
}

TEST(SubListSet2, MalformedRepliesDegrade) {
  const struct {
    const char* what;
    Text reply;
    Text body;
    bool hasAttach;
    Text names;
  } cases[] = {
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
    Text reply = c.reply;
    const RetrievedMail m = extractRetrieved(reply);
    EXPECT_EQ(m.Body, c.body) << show(m.Body);
    EXPECT_EQ(m.HasAttach, c.hasAttach);
    EXPECT_EQ(m.AttachNames, c.names) << show(m.AttachNames);
  }
}

}  // namespace
}  // namespace tarvi
