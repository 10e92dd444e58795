// The monitor's retrieve run against a server that answers anything: every
// reply is the next piece of the input (pieces end at 0xFF; the first byte
// chooses how replies are cut into chunks). Three messages of two accounts
// are marked in the popup. Whatever comes, the run ends with the marks
// cleared, and a body is only stored for a marked message whose reply
// shows the listed sender and subject.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "tests/fakes/monitor_rig.h"
#include "tests/fuzz/scripted_server.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

void check(bool ok, const char* what) { tarvi::fakes::fuzzCheck(ok, "fuzz_retrieve_session", what); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvi;
  if (size == 0) return 0;
  fakes::MonitorRig rig;
  rig.addAccount(1, "A");
  rig.addAccount(2, "B");
  rig.store.set("Timeupval", "1");
  // Bit 4 of the first byte (which cuts the replies by its low four)
  // chooses today's mail decoding or the original one.
  rig.store.set("Decodeall", data[0] & 0x10 ? "1" : "0");
  check(rig.start(), "start-up failed");
  for (int a = 1; a <= 2; ++a) {
    rig.state().accounts.find(a)->lastCount = 3;
    for (int m = 1; m <= 3; ++m) {
      rig.item(a, m).sender = u"f";
      rig.item(a, m).subject = u"s" + decimal(m);
    }
  }
  rig.monitor.popup().fillGrid();
  for (int row : {2, 3, 4}) rig.monitor.clickRow(row);  // 1/2, 1/3 and 2/1
  check(rig.item(1, 2).marked && rig.item(1, 3).marked && rig.item(2, 1).marked, "not marked");

  fakes::FuzzServer server(data, size);
  server.serve(rig.sock);
  rig.monitor.retrieveMarked();
  rig.settle(400);

  check(rig.monitor.checker().run() == Checker::Run::None, "the run did not end");
  check(!rig.window.busy, "still busy");
  for (int a = 1; a <= 2; ++a)
    for (int m = 1; m <= 3; ++m) {
      const MailItem& r = rig.item(a, m);
      const bool target = (a == 1 && m >= 2) || (a == 2 && m == 1);
      check(!r.marked, "a mark left");
      check(target || r.body.empty(), "a body for a message not asked for");
      check(r.sender == u"f" && r.subject == u"s" + decimal(m), "the listing changed");
    }
  return 0;
}
