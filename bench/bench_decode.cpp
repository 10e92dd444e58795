// Throughput of header decoding and extraction, today's decoding (Decodeall
// 0) and the full one side by side, and how the extraction of one retrieved
// message grows with its size. Prints figures; judges nothing.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include "common/cp932.h"
#include "monitor/mail/decode.h"
#include "monitor/mail/extract.h"
#include "monitor/mail/mime_header.h"
#include "tests/unit/mail/mail_samples.h"

namespace {

using namespace tarvi;
using samples::bWord;
using samples::jis;
using samples::lines;

const char16_t* const kWords[] = {u"会議",   u"資料",     u"見積書", u"ご案内", u"お知らせ",
                                  u"週末の", u"打ち合わせ", u"について", u"確認",  u"予定"};

Text topReply(int i) {
  const Text w1 = kWords[i % 10], w2 = kWords[(i / 10) % 10], w3 = kWords[(i / 100) % 10];
  Text subject;
  switch (i % 4) {
    case 0: subject = u"Subject: " + bWord(w1 + w2) + u"\r\n " + bWord(w3 + u"(" + decimal(i) + u")"); break;
    case 1: subject = u"Subject: Re: " + bWord(w1, u"=?iso-2022-jp?b?") + u" No." + decimal(i); break;
    case 2: subject = u"Subject: " + jis(w2 + w3); break;
    default: subject = u"Subject: plain subject " + decimal(i); break;
  }
  return u"+OK\r\n" +
         lines({u"Return-Path: <user" + decimal(i) + u"@example.jp>",
                u"Received: from mail.example.jp by pop.example.jp; Mon, 1 Jan 2024 00:00:00 +0900",
                u"From: " + bWord(u"山田") + u" " + bWord(u"太郎") + u" <taro@example.jp>",
                u"To: user@example.jp", subject, u"Date: Mon, 1 Jan 2024 00:00:00 +0900",
                u"MIME-Version: 1.0",
                i % 3 ? u"Content-Type: text/plain; charset=ISO-2022-JP"
                      : u"Content-Type: multipart/mixed;\r\n\tboundary=\"----=_Part_" + decimal(i) + u"\"",
                u"", jis(u"本文の一行目です。"), u"line 2", u"line 3", u"line 4", u"line 5", u"."});
}

// A multipart/mixed message of about `bytes` characters: a JIS text part and
// attachments of `attachment` characters of Base64 each.
Text retrReply(std::size_t bytes, std::size_t attachment) {
  const Text b = u"----=_NextPart_000_0001";
  Text text;
  while (text.size() < 3000) text += jis(u"添付ファイルをご確認ください。") + u"\r\n";
  Text out = u"+OK\r\n" + lines({u"From: a@example.jp", u"Subject: " + bWord(u"資料送付"),
                                 u"Content-Type: multipart/mixed; boundary=\"" + b + u"\"", u"",
                                 u"This is a multi-part message in MIME format.", u"", u"--" + b,
                                 u"Content-Type: text/plain; charset=ISO-2022-JP", u""}) +
             text;
  Text line(76, u'Q');
  for (int n = 1; out.size() < bytes; ++n) {
    out += lines({u"--" + b, u"Content-Type: application/octet-stream;",
                  u" name=\"" + bWord(u"資料" + decimal(n) + u".pdf") + u"\"",
                  u"Content-Transfer-Encoding: base64", u""});
    for (std::size_t k = 0; k < attachment && out.size() < bytes; k += 78) out += line + u"\r\n";
  }
  out += lines({u"--" + b + u"--", u"."});
  return out;
}

// A plain message of about `bytes` characters whose body is JIS throughout.
Text plainReply(std::size_t bytes) {
  Text out = u"+OK\r\n" + lines({u"From: a@example.jp", u"Subject: s", u""});
  const Text line = jis(u"長い本文が続きます。") + u" text\r\n";
  while (out.size() < bytes) out += line;
  return out + u".\r\n";
}

// A "B" word of the text in UTF-8.
std::string utf8BWord(const Text& text) {
  const std::string utf8 = toUtf8(text);
  Text bytes;
  for (unsigned char c : utf8) bytes += static_cast<char16_t>(c);
  return "=?UTF-8?B?" + toUtf8(samples::base64(bytes)) + "?=";
}

double seconds(const std::function<void()>& f, int repeat = 3) {
  double best = 1e30;
  for (int r = 0; r < repeat; ++r) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    const auto t1 = std::chrono::steady_clock::now();
    best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
  }
  return best;
}

constexpr double kMB = 1024.0 * 1024.0;

}  // namespace

int main() {
  // 1. TOP replies as a check session handles them, from the socket's bytes:
  // today's path decodes them as code page 932 and extracts from the text;
  // the full one extracts from the bytes (the session still decodes them
  // once for its log, which is counted too).
  const int topCount = 10000;
  std::vector<std::string> tops;
  std::size_t topBytes = 0;
  for (int i = 0; i < topCount; ++i) {
    tops.push_back(cp932::encode(topReply(i)));
    topBytes += tops.back().size();
  }
  MessageList list;
  list.clear(topCount);
  const double tTopBefore = seconds([&] {
    for (int i = 0; i < topCount; ++i) {
      Text reply = cp932::decode(tops[static_cast<std::size_t>(i)]);
      normalizeLineEnds(reply);
      listTopReply(*list.find(i + 1), reply);
    }
  });
  const std::string beforeSample = toUtf8(list.find(1)->subject);
  const double tTopAfter = seconds([&] {
    for (int i = 0; i < topCount; ++i) {
      const std::string& bytes = tops[static_cast<std::size_t>(i)];
      Text log = cp932::decode(bytes);
      normalizeLineEnds(log);
      listTopReplyAll(*list.find(i + 1), bytes, nullptr);
    }
  });
  std::printf("%d TOP replies (%.2f MB)     %12s %12s\n", topCount, topBytes / kMB, "today", "full");
  std::printf("  decoding time, s             %12.3f %12.3f\n", tTopBefore, tTopAfter);
  std::printf("  replies/s                    %12.0f %12.0f\n", topCount / tTopBefore, topCount / tTopAfter);
  std::printf("  share of a 3 s check         %11.1f%% %11.1f%%\n", tTopBefore / 3 * 100, tTopAfter / 3 * 100);
  std::printf("  sample subject: %s / %s\n", beforeSample.c_str(), toUtf8(list.find(1)->subject).c_str());

  // 2. One header value at a time: ISO-2022-JP words, which both decode,
  // and UTF-8 words, which only the full decoding reads.
  std::vector<Text> values;
  std::vector<std::string> jisValues, utf8Values;
  std::size_t valueBytes = 0, utf8Bytes = 0;
  for (int i = 0; i < topCount; ++i) {
    values.push_back(bWord(kWords[i % 10]) + u" " + bWord(kWords[(i + 3) % 10]) + u" <x@example.jp>");
    jisValues.push_back(toUtf8(values.back()));
    valueBytes += jisValues.back().size();
    utf8Values.push_back(utf8BWord(kWords[i % 10]) + " " + utf8BWord(kWords[(i + 3) % 10]) +
                         " <x@example.jp>");
    utf8Bytes += utf8Values.back().size();
  }
  std::size_t sink = 0;
  const double tDec = seconds([&] {
    for (const Text& v : values) sink += decodeHeader(v, true).size();
  });
  const double tDecAll = seconds([&] {
    for (const std::string& v : jisValues) sink += decodeHeaderValue(v, nullptr).size();
  });
  const double tDecUtf8 = seconds([&] {
    for (const std::string& v : utf8Values) sink += decodeHeaderValue(v, nullptr).size();
  });
  std::printf("header values                 %12s %12s %12s\n", "today", "full", "full UTF-8");
  std::printf("  headers/s                    %12.0f %12.0f %12.0f\n", topCount / tDec, topCount / tDecAll,
              topCount / tDecUtf8);
  std::printf("  MB/s                         %12.1f %12.1f %12.1f\n", valueBytes / kMB / tDec,
              valueBytes / kMB / tDecAll, utf8Bytes / kMB / tDecUtf8);

  // 3. RETR replies of 1 MB: a JIS text part and Base64 attachments.
  const int retrCount = 100;
  const std::string retr = cp932::encode(retrReply(1 << 20, 200000));
  const double tRetr = seconds([&] {
    for (int i = 1; i <= retrCount; ++i) {
      Text reply = cp932::decode(retr);
      normalizeLineEnds(reply);
      storeRetrieved(*list.find(i), reply);
    }
  }, 1);
  const std::size_t beforeBody = list.find(1)->body.size();
  const double tRetrAll = seconds([&] {
    for (int i = 1; i <= retrCount; ++i) storeRetrievedAll(*list.find(i), retr, nullptr);
  }, 1);
  std::printf("%d RETR replies of %.2f MB     %12s %12s\n", retrCount, retr.size() / kMB, "today", "full");
  std::printf("  body MB/s                    %12.1f %12.1f\n", retrCount * (retr.size() / kMB) / tRetr,
              retrCount * (retr.size() / kMB) / tRetrAll);
  std::printf("  sample: body %zu / %zu chars, names %s\n", beforeBody, list.find(1)->body.size(),
              toUtf8(list.find(1)->attachmentNames).c_str());

  // 4. Growth with the size of one reply (today's decoding).
  std::printf("growth of one reply (s, and s per MB):\n");
  std::printf("  %6s %22s %22s %22s\n", "MB", "plain JIS body", "multipart 64 KB parts",
              "multipart 2 KB parts");
  for (std::size_t mb = 1; mb <= 32; mb *= 2) {
    const std::size_t bytes = mb << 20;
    const Text plain = plainReply(bytes);
    const Text parts = retrReply(bytes, 65536);
    const Text small = retrReply(bytes, 2048);
    // Best of three; the copy of the reply is made outside the timing.
    auto run = [&](const Text& r) {
      double best = 1e30;
      for (int k = 0; k < 3; ++k) {
        Text reply = r;
        best = std::min(best, seconds([&] {
          RetrievedMail m = extractRetrieved(reply);
          sink += m.body.size();
        }, 1));
      }
      return best;
    };
    const double a = run(plain), b = run(parts), c = run(small);
    std::printf("  %6zu %10.4f %10.4f/MB %10.4f %10.4f/MB %10.4f %10.4f/MB\n", mb, a, a / mb, b,
                b / mb, c, c / mb);
  }
  return sink == 0 ? 1 : 0;
}
