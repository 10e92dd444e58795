#include "common/kept_list_name.h"

namespace tarvi {

Text mailboxIdentity(const AccountSettings& a) {
  return a.host + u"\n" + decimal(a.port) + u"\n" + a.user;
}

Text keptListFileName(TextView identity) {
  // FNV-1a over the UTF-8 bytes: stable across versions and platforms.
  std::uint64_t h = 0xcbf29ce484222325ull;
  for (unsigned char c : toUtf8(identity)) {
    h ^= c;
    h *= 0x100000001b3ull;
  }
  Text name = u"list-";
  for (int shift = 60; shift >= 0; shift -= 4) name += u"0123456789abcdef"[(h >> shift) & 0xF];
  return name + u".dat";
}

}  // namespace tarvi
