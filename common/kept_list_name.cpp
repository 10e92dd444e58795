#include "common/kept_list_name.h"

namespace tarvi {

Text mailboxIdentity(const AccountSettings& a) {
  const Text pop3 = a.host + u"\n" + decimal(a.port) + u"\n" + a.user;
  // An IMAP folder's listing is another mailbox than the POP3 one of the
  // same user, and than the user's other folders.
  return a.protocol == kImap ? pop3 + u"\nIMAP\n" + a.folder : pop3;
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
