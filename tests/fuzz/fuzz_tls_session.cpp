// The check cycle over two accounts with TLS, one from the first byte and
// one after STLS, against a server that answers anything (see
// scripted_server.h): under TLS every reply is sealed into records, or, with
// bit 1 of the options, is taken as the records themselves, so that the
// engine meets broken ones. Bit 0 makes the certificate untrusted, bit 2
// pins it. Whatever comes, the cycle ends within the time limits, no user
// name goes out before an accepted certificate, and at most the last
// account's connection is still open.
#include <cstddef>
#include <cstdint>
#include <string>

#include "tests/fakes/monitor_rig.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/scripted_server.h"

namespace {

void check(bool ok, const char* what) { tarvi::fakes::fuzzCheck(ok, "fuzz_tls_session", what); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvi;
  if (size == 0) return 0;
  const unsigned options = data[0] >> 4;
  fakes::MonitorRig rig;
  rig.addAccount(1, "A").implicitTls = true;
  rig.addAccount(2, "B");
  rig.store.set("Tlsmode1", "1");
  rig.store.set("Tlsmode2", "2");
  if (options & 4) {
    rig.store.set("Tlspin1", std::string(64, 'c'));
    rig.store.set("Tlspin2", std::string(64, 'c'));
    rig.store.set("Tlspinfor1", "1 1001 127.0.0.1");
    rig.store.set("Tlspinfor2", "2 1002 127.0.0.1");
  }
  rig.tlsFactory.nextCert.untrusted = options & 1;
  rig.sock.tlsRaw = options & 2;
  rig.store.set("Timeupval", "1");
  rig.store.set("Option1value", "1");
  rig.store.set("Option3value", "1");  // no boxes: nothing to answer
  check(rig.start(), "start-up failed");

  fakes::FuzzServer server(data, size);
  server.serve(rig.sock);
  for (int cycle = 0; cycle < (options & 8 ? 2 : 1); ++cycle) {
    rig.checkAll();
    rig.settle(200);
    check(rig.monitor.checker().run() == Checker::Run::None, "the cycle did not end");
  }

  const bool accepted = !(options & 1) || (options & 4);
  for (const std::string& line : rig.sock.sent)
    if (line.rfind("USER", 0) == 0 || line.rfind("PASS", 0) == 0)
      check(accepted, "logon with a refused certificate");
  check(rig.sock.wire.find("USER") == std::string::npos, "a user name in the clear");
  Transport& t = rig.monitor.checker().transport();
  check(rig.sock.startups - rig.sock.cleanups <= 1, "more than one connection left");
  check((rig.sock.startups != rig.sock.cleanups) == t.connected(), "a socket nobody owns");
  return 0;
}
