// Throughput of the viewer's reading of a retrieved message: a 1 MB Base64
// UTF-8 text body, a 1 MB HTML body, and header values through
// decodeHeaderValue. Prints figures; judges nothing.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "common/text.h"
#include "monitor/mail/mime_body.h"
#include "monitor/mail/mime_header.h"

namespace {

using namespace tarvi;

constexpr double kMB = 1024.0 * 1024.0;

double seconds(const std::function<void()>& f, int repeat = 5) {
  double best = 1e30;
  for (int r = 0; r < repeat; ++r) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  return best;
}

std::string base64(std::string_view data) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t column = 0;
  for (std::size_t i = 0; i < data.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, data.size() - i);
    unsigned v = 0;
    for (std::size_t k = 0; k < 3; ++k)
      v = v << 8 | (k < n ? static_cast<unsigned char>(data[i + k]) : 0u);
    for (std::size_t k = 0; k < 4; ++k) out += k <= n ? kAlphabet[(v >> (18 - 6 * k)) & 63] : '=';
    if ((column += 4) >= 76) {
      out += "\r\n";
      column = 0;
    }
  }
  return out;
}

// About `bytes` of body text: Japanese sentences and some ASCII per line.
std::string japaneseText(std::size_t bytes) {
  const std::string line = toUtf8(u"お世話になっております。来週の会議資料をお送りします。 Meeting at 10:00.\r\n");
  std::string out;
  while (out.size() < bytes) out += line;
  return out;
}

std::string htmlText(std::size_t bytes) {
  const std::string block = toUtf8(
      u"<div class=\"item\"><h2>新商品のご案内</h2><p>いつもご利用ありがとうございます。&nbsp;"
      u"今月の<a href=\"https://shop.example.jp/item?id=1&amp;ref=mail\">おすすめ商品</a>を"
      u"ご紹介します。</p><table><tr><td>価格</td><td>&yen;1,980</td></tr></table>"
      u"<!-- tracking --><img src=\"https://shop.example.jp/p.gif\" width=1 height=1><br></div>\r\n");
  std::string out = "<html><head><style>p { margin: 0 }</style></head><body>\r\n";
  while (out.size() < bytes) out += block;
  return out + "</body></html>\r\n";
}

}  // namespace

int main() {
  const std::size_t size = 1 << 20;
  std::size_t sink = 0;

  const std::string text = japaneseText(size);
  const std::string b64Message =
      "+OK\r\nContent-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
      base64(text) + ".\r\n";
  const double tB64 = seconds([&] { sink += readMessage(b64Message, nullptr).body.size(); });
  std::printf("readMessage, Base64 UTF-8 body of %.2f MB (%.2f MB encoded): %.4f s, %.1f MB/s of body\n",
              text.size() / kMB, b64Message.size() / kMB, tB64, text.size() / kMB / tB64);

  const std::string html = htmlText(size);
  const std::string htmlMessage =
      "+OK\r\nContent-Type: text/html; charset=UTF-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n" + html +
      ".\r\n";
  ReadableMessage sample;
  const double tHtml = seconds([&] {
    sample = readMessage(htmlMessage, nullptr);
    sink += sample.body.size();
  });
  std::printf("readMessage, HTML body of %.2f MB: %.4f s, %.1f MB/s of body (text: %zu characters)\n",
              html.size() / kMB, tHtml, html.size() / kMB / tHtml, sample.body.size());

  // Header values: encoded words in UTF-8 and ISO-2022-JP, raw UTF-8, plain.
  const std::vector<std::string> kinds = {
      "=?UTF-8?B?" + base64(toUtf8(u"会議資料の送付について")) + "?= =?UTF-8?Q?=E7=A2=BA=E8=AA=8D?=",
      "Re: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?= (No. 42)",
      toUtf8(u"山田 太郎 <taro@example.jp>"),
      "plain ascii subject line for the weekly report",
  };
  const int count = 100000;
  std::vector<std::string> values;
  std::size_t valueBytes = 0;
  for (int i = 0; i < count; ++i) {
    values.push_back(kinds[static_cast<std::size_t>(i) % kinds.size()]);
    valueBytes += values.back().size();
  }
  const double tHdr = seconds([&] {
    for (const std::string& v : values) sink += decodeHeaderValue(v, nullptr).size();
  });
  std::printf("decodeHeaderValue: %d values, %.2f MB: %.4f s, %.0f headers/s\n", count,
              valueBytes / kMB, tHdr, count / tHdr);
  return sink == 0 ? 1 : 0;
}
