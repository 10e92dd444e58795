// The monitor's delete run against a server that answers anything: every
// reply is the next piece of the input (pieces end at 0xFF; the first byte
// chooses how replies are cut into chunks). Messages 1 and 3 of three are
// marked in the popup. Whatever comes, the run and the check after it end,
// and no DELE n goes out unless STAT and then TOP n 5 went out in the same
// session.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/fakes/monitor_rig.h"
#include "tests/fuzz/scripted_server.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

void check(bool ok, const char* what) { tarvi::fakes::fuzzCheck(ok, "fuzz_delete_session", what); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvi;
  if (size == 0) return 0;
  fakes::MonitorRig rig;
  rig.addAccount(1, "A");
  rig.store.set("Timeupval", "1");
  // Bit 4 of the first byte (which cuts the replies by its low four)
  // chooses today's mail decoding or the original one.
  rig.store.set("Decodeall", data[0] & 0x10 ? "1" : "0");
  check(rig.start(), "start-up failed");
  AccountState& account = *rig.state().accounts.find(1);
  account.lastCount = 3;
  account.lastSize = 100;
  for (int m = 1; m <= 3; ++m) {
    rig.item(1, m).sender = u"f";
    rig.item(1, m).subject = u"s" + decimal(m);
  }
  rig.monitor.popup().fillGrid();
  rig.monitor.clickRow(1);
  rig.monitor.clickRow(3);

  fakes::FuzzServer server(data, size);
  server.serve(rig.sock);
  rig.monitor.deleteMarked();  // the question is answered "yes"
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
      check(stat && seen, "DELE without STAT and TOP first");
      check(n == "1" || n == "3", "DELE of a message not marked");
    }
  }
  check(rig.monitor.checker().run() == Checker::Run::None, "the run did not end");
  check(!rig.monitor.timers().enabled(TimerId::nextAccount), "a next account still due");
  return 0;
}
