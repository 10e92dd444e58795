// listTopReply on any TOP reply, twice on the same record, as a re-check of
// an unchanged mailbox does: the second pass changes nothing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/cp932.h"
#include "monitor/mail/extract.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvi;
  const Text reply = cp932::decode(std::string_view(reinterpret_cast<const char*>(data), size));
  MailItem r;
  r.body = u"body";
  r.marked = true;
  r.identity = messageIdentity(reply);
  listTopReply(r, reply);
  const MailItem first = r;
  listTopReply(r, reply);
  if (!(r == first) || r.marked) std::abort();
  // TABs separate the popup's columns.
  if (r.sender.find(u'\t') != Text::npos || r.subject.find(u'\t') != Text::npos) std::abort();
  // The body survives only when the record still shows the message it
  // was retrieved for (here: the same identity, without sender and subject).
  if (r.body.empty() == (r.sender.empty() && r.subject.empty())) std::abort();
  return 0;
}
