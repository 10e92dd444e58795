// The check, retrieve and delete dialogues of an IMAP account against a
// server that answers anything: every answer is the next piece of the
// input (pieces end at 0xFF), "@" in a piece stands for the tag of the
// command it answers, and the first byte chooses how answers are cut.
// Whatever comes, each run ends within its time limit, the list stays
// within its bound and every row of the popup stands for a record.
#include <cstddef>
#include <cstdint>
#include <string>

#include "tests/fakes/monitor_rig.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/scripted_server.h"

namespace {

void check(bool ok, const char* what) { tarvi::fakes::fuzzCheck(ok, "fuzz_imap_check", what); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvi;
  if (size == 0) return 0;
  fakes::MonitorRig rig;
  rig.addImapAccount(1, "A");
  rig.store.set("Idle1", "0");
  rig.store.set("Unseenonly1", data[0] & 0x10 ? "0" : "1");
  rig.store.set("Decodeall", data[0] & 0x20 ? "1" : "0");
  rig.store.set("Timeupval", "1");
  rig.store.set("Option1value", "1");
  rig.store.set("Option3value", "1");
  check(rig.start(), "start-up failed");

  fakes::FuzzServer server(data, size);
  server.serve(rig.sock);
  rig.sock.greetingFor = nullptr;
  auto answer = rig.sock.respond;
  rig.sock.respond = [&answer](const std::string& line) {
    std::string reply = answer(line);
    const std::string tag = line.substr(0, line.find(' '));
    for (std::size_t at; (at = reply.find('@')) != std::string::npos;) reply.replace(at, 1, tag);
    return reply;
  };

  rig.checkAll();
  rig.settle(100);
  check(rig.monitor.checker().run() == Checker::Run::None, "the check did not end");
  AccountState& a = *rig.state().accounts.find(1);
  check(a.mail.size() <= MessageList::kMaxMessages, "list beyond its bound");
  for (int m = 1; m <= a.mail.size(); m += 2) a.mail.find(m)->marked = true;
  rig.monitor.checker().retrieveMarked();
  rig.settle(100);
  for (int m = 1; m <= a.mail.size(); m += 2) a.mail.find(m)->marked = true;
  rig.dialogs.answers.push_back(MsgAnswer::Yes);
  rig.monitor.checker().deleteMarked();
  rig.settle(200);
  check(rig.monitor.checker().run() == Checker::Run::None, "a run did not end");

  const PopupGrid& grid = rig.monitor.popup().grid;
  for (int r = 1; r < grid.rowCount(); ++r) {
    const AccountState* acc = rig.state().accounts.find(grid.row(r).account);
    check(acc && acc->mail.find(grid.row(r).msgno), "a row without a record");
  }
  check(rig.sock.startups - rig.sock.cleanups <= 1, "more than one connection left");
  return 0;
}
