// The fast check over two accounts against a server that answers anything
// (tests/fuzz/scripted_server.h): UIDL listings, CAPA replies and pipelined
// TOP replies as the input has them, cut as its first byte says. Two cycles
// share what the first one kept, as a restart would find it. Whatever comes,
// the cycles end, every row stands for a record, every id kept is one RFC
// 1939 allows and is kept once per account, and what was kept reads back
// as a list. The input is also read as a kept list file, which must never
// crash the reader.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "monitor/state/kept_list.h"
#include "tests/fakes/monitor_rig.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/scripted_server.h"

namespace {

void check(bool ok, const char* what) { tarvi::fakes::fuzzCheck(ok, "fuzz_fast_check", what); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvi;
  if (size == 0) return 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  (void)decodeKeptList(u"h\n110\nu", bytes);

  fakes::MonitorRig rig;
  rig.addAccount(1, "A");
  rig.addAccount(2, "B");
  rig.store.set("Fastcheck", "1");
  rig.store.set("Timeupval", "1");
  rig.store.set("Option1value", "1");
  rig.store.set("Option3value", "1");  // no boxes: nothing to answer
  rig.store.set("Decodeall", data[0] & 0x10 ? "1" : "0");
  check(rig.start(), "start-up failed");

  fakes::FuzzServer server(data, size);
  server.serve(rig.sock);
  for (int cycle = 0; cycle < 2; ++cycle) {
    if (cycle == 1) rig.state().accounts.resetListings();  // as after a restart
    rig.checkAll();
    rig.settle(200);
    check(rig.monitor.checker().run() == Checker::Run::None, "the cycle did not end");
  }
  check(rig.sock.startups - rig.sock.cleanups <= 1, "more than one connection left");

  const PopupGrid& grid = rig.monitor.popup().grid;
  const AccountTable& accounts = rig.state().accounts;
  for (int r = 1; r < grid.rowCount(); ++r) {
    const AccountState* a = accounts.find(grid.row(r).account);
    check(a && a->mail.find(grid.row(r).msgno), "a row without a record");
  }
  for (int n = 1; n <= accounts.count(); ++n) {
    const AccountState& a = *accounts.find(n);
    check(a.mail.size() <= MessageList::kMaxMessages, "list beyond its bound");
    std::set<std::string> uids;
    for (int m = 1; m <= a.mail.size(); ++m) {
      const std::string& uid = a.mail.find(m)->uid;
      if (uid.empty()) continue;
      check(validUid(uid), "an id RFC 1939 does not allow");
      check(uids.insert(uid).second, "an id listed twice");
    }
  }
  for (auto& [name, file] : rig.lists.files) {
    (void)name;
    bool readable = false;
    for (int n = 1; n <= accounts.count(); ++n)
      readable = readable || decodeKeptList(accounts.find(n)->identity, file).has_value();
    check(readable, "a kept list that does not read back");
  }
  return 0;
}
