// A check cycle over two accounts against a server that answers anything:
// every reply is the next piece of the input (pieces end at 0xFF; the first
// byte chooses how replies are cut into chunks). Whatever comes, the cycle
// ends within the time limits, and at most the last account's connection is
// still open (a server that never answers QUIT keeps it to the next cycle).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/fakes/check_rig.h"
#include "tests/fuzz/scripted_server.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvi;
  if (size == 0) return 0;
  fakes::CheckRig rig;
  rig.addAccount(1, "A");
  rig.addAccount(2, "B");
  rig.store.set("Timeupval", "1");
  rig.store.set("Option3value", "1");  // no boxes: nothing to answer
  rig.start();

  fakes::FuzzServer server(data, size);
  server.serve(rig.sock);
  rig.cycle.checkmail();
  rig.pump.runAll();
  // Two accounts, each given up after at most its one-minute limit.
  for (int i = 0; i < 200; ++i) rig.clock.advance(1000);

  // The cycle has ended: its caption is the total, or the plain title when
  // nothing was found, never an account still being checked.
  const std::string caption = rig.view.caption();
  const bool ended = caption == "Tarviメールチェッカー" ||
                     caption.find("通のメールが届いています!") != std::string::npos;
  // A server that never answers the last account's QUIT keeps that one
  // connection until the next cycle closes it; nothing else may be left.
  if (!ended || rig.sock.startups - rig.sock.cleanups > 1 ||
      (rig.sock.startups != rig.sock.cleanups) != rig.transport.connected()) {
    std::fprintf(stderr, "caption %s, connected %d, startups %d, cleanups %d\n", caption.c_str(),
                 rig.transport.connected() ? 1 : 0, rig.sock.startups, rig.sock.cleanups);
    std::abort();
  }
  return 0;
}
