// storeRetrieved on any RETR reply: it may only shorten the reply, leaves
// the listing alone, and what it stores holds no TAB (and the names no line
// break).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/cp932.h"
#include "monitor/mail/extract.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvi;
  const Text original = cp932::decode(std::string_view(reinterpret_cast<const char*>(data), size));
  MailItem r;
  r.sender = u"f";
  r.subject = u"s";
  r.marked = true;
  Text reply = original;
  storeRetrieved(r, reply);
  if (reply.size() > original.size()) std::abort();
  if (r.sender != u"f" || r.subject != u"s" || !r.marked) std::abort();
  if (r.body.find(u'\t') != Text::npos) std::abort();
  if (r.attachmentNames.find(u'\t') != Text::npos ||
      r.attachmentNames.find(u"\r\n") != Text::npos) {
    std::abort();
  }
  if (!r.hasAttachment && !r.attachmentNames.empty()) std::abort();
  return 0;
}
