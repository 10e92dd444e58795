// A retrieve run against a server that answers anything: every reply is the
// next piece of the input (pieces end at 0xFF; the first byte chooses how
// replies are cut into chunks). Whatever comes, the run ends with the marks
// cleared, and a body is only stored for a marked message whose reply
// shows the listed sender and subject.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/fuzz/scripted_server.h"
#include "tests/unit/pop3/retrieve_rig.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvi;
  if (size == 0) return 0;
  fakes::RunRig rig;
  rig.addAccount(1, "A");
  rig.addAccount(2, "B");
  rig.store.set("Timeupval", "1");
  rig.start();
  rig.mailList.redim(2, 3);
  for (int a = 1; a <= 2; ++a)
    for (int m = 1; m <= 3; ++m) {
      rig.mailList.at(a, m).From = u"f";
      rig.mailList.at(a, m).Subject = u"s" + decimal(m);
    }
  rig.mark(1, 2);
  rig.mark(1, 3);
  rig.mark(2, 1);

  fakes::FuzzServer server(data, size);
  server.serve(rig.sock);
  rig.retrieve.RetrBt_Click();
  rig.settle(400);

  if (rig.retrieve.running()) std::abort();
  const int targets[][2] = {{1, 2}, {1, 3}, {2, 1}};
  for (int a = 1; a <= 2; ++a)
    for (int m = 1; m <= 3; ++m) {
      const MailItem& r = rig.mailList.at(a, m);
      if (r.Marked != 0) std::abort();
      bool target = false;
      for (auto& t : targets) target = target || (t[0] == a && t[1] == m);
      if (!target && !r.Body.empty()) std::abort();
      if (r.From != u"f" || r.Subject != u"s" + decimal(m)) std::abort();
    }
  return 0;
}
