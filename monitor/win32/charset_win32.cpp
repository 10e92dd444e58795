#include "monitor/win32/charset_win32.h"

#include <windows.h>

#include <climits>
#include <string>

#include "monitor/mail/charsets.h"

namespace tarvi::win32 {
namespace {

struct CodePageName {
  std::string_view key;  // as charsetKey writes names
  unsigned codePage;
};

constexpr CodePageName kCodePages[] = {
    {"gb2312", 936}, {"gbk", 936}, {"xgbk", 936}, {"cp936", 936}, {"ms936", 936},
    {"windows936", 936}, {"euccn", 936}, {"xeuccn", 936}, {"csgb2312", 936},
    {"chinese", 936}, {"gb18030", 54936}, {"hzgb2312", 52936},
    {"big5", 950}, {"xxbig5", 950}, {"cp950", 950}, {"csbig5", 950}, {"big5hkscs", 950},
    {"euckr", 949}, {"ksc56011987", 949}, {"ksc5601", 949}, {"ksc56011989", 949},
    {"cp949", 949}, {"uhc", 949}, {"windows949", 949}, {"korean", 949},
    {"cseuckr", 949}, {"csksc56011987", 949}, {"iso2022kr", 50225},
    {"koi8r", 20866}, {"cskoi8r", 20866}, {"koi8u", 21866}, {"koi8ru", 21866},
    {"iso88592", 28592}, {"latin2", 28592}, {"l2", 28592},
    {"iso88593", 28593}, {"latin3", 28593},
    {"iso88594", 28594}, {"latin4", 28594},
    {"iso88595", 28595}, {"cyrillic", 28595},
    {"iso88596", 28596}, {"arabic", 28596},
    {"iso88597", 28597}, {"greek", 28597},
    {"iso88598", 28598}, {"iso88598i", 38598}, {"hebrew", 28598},
    {"iso88599", 28599}, {"latin5", 28599},
    {"iso885913", 28603}, {"iso885915", 28605},
    {"windows1250", 1250}, {"cp1250", 1250}, {"windows1251", 1251}, {"cp1251", 1251},
    {"windows1252", 1252}, {"cp1252", 1252}, {"windows1253", 1253}, {"cp1253", 1253},
    {"windows1254", 1254}, {"cp1254", 1254}, {"windows1255", 1255}, {"cp1255", 1255},
    {"windows1256", 1256}, {"cp1256", 1256}, {"windows1257", 1257}, {"cp1257", 1257},
    {"windows1258", 1258}, {"cp1258", 1258},
    {"windows874", 874}, {"tis620", 874}, {"cp874", 874},
    {"ibm866", 866}, {"cp866", 866}, {"ibm850", 850}, {"cp850", 850},
    {"macintosh", 10000}, {"xmacroman", 10000},
    {"utf7", 65000}, {"unicode11utf7", 65000}, {"csunicode11utf7", 65000},
};

}  // namespace

unsigned Win32Charsets::codePageOf(std::string_view charset) {
  const std::string key = charsetKey(charset);
  for (const auto& c : kCodePages)
    if (c.key == key) return c.codePage;
  return 0;
}

std::optional<Text> Win32Charsets::toText(std::string_view bytes, std::string_view charset) {
  const unsigned codePage = codePageOf(charset);
  if (codePage == 0 || !IsValidCodePage(codePage)) return std::nullopt;
  if (bytes.empty()) return Text();
  if (bytes.size() > static_cast<std::size_t>(INT_MAX)) return std::nullopt;
  const int length = static_cast<int>(bytes.size());
  // No flags: several of these code pages (UTF-7, ISO-2022-KR) refuse any.
  const int units = MultiByteToWideChar(codePage, 0, bytes.data(), length, nullptr, 0);
  if (units <= 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  MultiByteToWideChar(codePage, 0, bytes.data(), length, wide.data(), units);
  return Text(wide.begin(), wide.end());
}

}  // namespace tarvi::win32
