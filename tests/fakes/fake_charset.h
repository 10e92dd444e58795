#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/services/charset.h"

namespace tarvi::fakes {

// Knows two charsets the core does not: "koi8-r" for a few Cyrillic
// letters (other 8-bit bytes become U+FFFD) and "x-test", which turns every
// byte into '#'. Records every name it was asked for.
class FakeCharsets : public CharsetConverter {
 public:
  std::optional<Text> toText(std::string_view bytes, std::string_view charset) override {
    asked.emplace_back(charset);
    std::string name;
    for (char c : charset) name += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    Text out;
    if (name == "x-test") {
      out.assign(bytes.size(), u'#');
      return out;
    }
    if (name != "koi8-r") return std::nullopt;
    for (char c : bytes) {
      switch (static_cast<unsigned char>(c)) {
        case 0xC1: out += u'а'; break;
        case 0xC2: out += u'б'; break;
        case 0xC5: out += u'е'; break;
        case 0xC9: out += u'и'; break;
        case 0xD2: out += u'р'; break;
        case 0xD7: out += u'в'; break;
        case 0xD4: out += u'т'; break;
        case 0xF0: out += u'П'; break;
        case 0xE9: out += u'И'; break;
        default:
          out += static_cast<unsigned char>(c) < 0x80 ? static_cast<char16_t>(c) : u'\uFFFD';
      }
    }
    return out;
  }

  std::vector<std::string> asked;
};

}  // namespace tarvi::fakes
