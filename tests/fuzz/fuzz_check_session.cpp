// The monitor's check cycle over two accounts against a server that answers
// anything: every reply is the next piece of the input (pieces end at 0xFF;
// the low four bits of the first byte choose how replies are cut into
// chunks, the high four the options below, bit 3 the decoding too). Whatever comes, the cycle ends
// within the time limits, at most the last account's connection is still
// open (a server that never answers QUIT keeps it to the next cycle), and
// every row of the popup stands for a record of the mail table.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tests/fakes/monitor_rig.h"
#include "tests/fuzz/scripted_server.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

void check(bool ok, const char* what) { tarvi::fakes::fuzzCheck(ok, "fuzz_check_session", what); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvi;
  if (size == 0) return 0;
  const unsigned options = data[0] >> 4;
  fakes::MonitorRig rig;
  rig.addAccount(1, "A");
  rig.addAccount(2, "B");
  rig.store.set("Timeupval", "1");
  rig.store.set("Option1value", "1");  // the popup is filled and shown
  rig.store.set("Option3value", "1");  // no boxes: nothing to answer
  rig.store.set("Option6value", options & 1 ? "1" : "0");
  rig.store.set("Option9value", options & 2 ? "1" : "0");
  rig.store.set("Option8value", options & 4 ? "1" : "0");
  // Today's mail decoding or the original one: bit 3 of the first byte,
  // which also takes part in cutting the replies.
  rig.store.set("Decodeall", data[0] & 8 ? "1" : "0");
  check(rig.start(), "start-up failed");

  fakes::FuzzServer server(data, size);
  server.serve(rig.sock);
  // A second cycle reads the mailboxes again, as the list stands after
  // the first.
  for (int cycle = 0; cycle < (options & 8 ? 2 : 1); ++cycle) {
    rig.checkAll();
    // Two accounts, each given up after at most its one-minute limit.
    rig.settle(200);
    check(rig.monitor.checker().run() == Checker::Run::None, "the cycle did not end");
  }

  // The cycle has ended: its caption is the total, or the plain title when
  // nothing was found, never an account still being checked.
  const std::string caption = rig.window.lastCaption();
  check(caption == "Tarviメールチェッカー" ||
            caption.find("通のメールが届いています!") != std::string::npos,
        "caption of an unfinished cycle");
  Transport& t = rig.monitor.checker().transport();
  check(rig.sock.startups - rig.sock.cleanups <= 1, "more than one connection left");
  check((rig.sock.startups != rig.sock.cleanups) == t.connected(), "a socket nobody owns");

  const PopupGrid& grid = rig.monitor.popup().grid;
  const AccountTable& accounts = rig.state().accounts;
  for (int r = 1; r < grid.rowCount(); ++r) {
    const AccountState* a = accounts.find(grid.row(r).account);
    check(a && a->mail.find(grid.row(r).msgno), "a row without a record");
    check(grid.row(r).msgno <= a->lastCount, "a row beyond the count");
  }
  for (int n = 1; n <= accounts.count(); ++n)
    check(accounts.find(n)->mail.size() <= MessageList::kMaxMessages, "list beyond its bound");
  return 0;
}
