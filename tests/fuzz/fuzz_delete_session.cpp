// A delete run against a server that answers anything: every reply is the
// next piece of the input (pieces end at 0xFF; the first byte chooses how
// replies are cut into chunks). Whatever comes, the run ends, and no DELE n
// goes out unless STAT and then TOP n 5 went out in the same session.
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
  rig.store.set("Timeupval", "1");
  rig.start();
  rig.mailList.redim(1, 4);
  for (int m = 1; m <= 3; ++m) {
    rig.mailList.at(1, m).From = u"f";
    rig.mailList.at(1, m).Subject = u"s" + decimal(m);
  }
  rig.tally.resize(1);
  rig.tally.lastCount[1] = 3;
  rig.tally.lastSize[1] = 100;
  rig.mark(1, 1);
  rig.mark(1, 3);

  fakes::FuzzServer server(data, size);
  server.serve(rig.sock);
  rig.del.DelBt_Click();
  // Long enough for every session (delete and check) to end or time out.
  rig.settle(600);

  bool stat = false;
  std::vector<std::string> tops;
  for (const std::string& c : rig.sock.sent) {
    if (c.rfind("USER ", 0) == 0) {
      stat = false;
      tops.clear();
    } else if (c == "STAT") {
      stat = true;
    } else if (c.rfind("TOP ", 0) == 0) {
      tops.push_back(c.substr(4, c.find(' ', 4) - 4));
    } else if (c.rfind("DELE ", 0) == 0) {
      const std::string n = c.substr(5);
      bool seen = false;
      for (auto& t : tops) seen = seen || t == n;
      if (!stat || !seen) std::abort();
      if (n != "1" && n != "3") std::abort();
    }
  }
  if (rig.clock.running(TimerId::deltimer)) std::abort();
  return 0;
}
