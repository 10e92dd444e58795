// subListSet2 on any RETR reply: it may only shorten the reply, and what it
// stores holds no TAB (and the names no line break).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/cp932.h"
#include "monitor/mail/extract.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const tarvi::Text original =
      tarvi::cp932::decode(std::string_view(reinterpret_cast<const char*>(data), size));
  tarvi::MailList list;
  list.redim(1);
  tarvi::Text reply = original;
  if (!tarvi::subListSet2(list, 1, 1, reply)) std::abort();
  if (reply.size() > original.size()) std::abort();
  const tarvi::MailItem& r = list.at(1, 1);
  if (r.Body.find(u'\t') != tarvi::Text::npos) std::abort();
  if (r.AttachNames.find(u'\t') != tarvi::Text::npos ||
      r.AttachNames.find(u"\r\n") != tarvi::Text::npos) {
    std::abort();
  }
  if (!r.HasAttach && !r.AttachNames.empty()) std::abort();
  return 0;
}
