// subListSet on any TOP reply, twice on the same record, as a re-check does.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/cp932.h"
#include "monitor/mail/extract.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const tarvi::Text reply =
      tarvi::cp932::decode(std::string_view(reinterpret_cast<const char*>(data), size));
  tarvi::MailList list;
  list.redim(1);
  tarvi::MailItem& seeded = list.at(1, 1);
  seeded.Body = u"body";
  seeded.Marked = -1;
  if (!tarvi::subListSet(list, 1, 1, reply)) std::abort();
  if (!tarvi::subListSet(list, 1, 1, reply)) std::abort();
  const tarvi::MailItem& r = list.at(1, 1);
  if (r.Marked != 0) std::abort();
  if (r.From.find(u'\t') != tarvi::Text::npos || r.Subject.find(u'\t') != tarvi::Text::npos) {
    std::abort();
  }
  return 0;
}
