// The settings program's connection test against a server that sends
// anything: the first byte chooses the TLS mode (low two bits), whether the
// certificate has a problem (bit 2) and how the rest is cut into receives
// (high bits); the rest is all the server ever sends, whatever it is asked.
// Whatever comes, the test ends, and no USER or PASS goes out in the clear
// when TLS was chosen, nor over a refused certificate.
#include <cstddef>
#include <cstdint>
#include <string>

#include "settings/connection_test.h"
#include "tests/fakes/fake_tls.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

void check(bool ok, const char* what) { tarvi::fakes::fuzzCheck(ok, "fuzz_connection_test", what); }

class ReplayLink : public tarvi::settings::TestLink {
 public:
  ReplayLink(std::string bytes, std::size_t chunk) : in_(std::move(bytes)), chunk_(chunk) {}
  Status connect(const std::string&, int) override { return Status::Ok; }
  Status send(const std::string& bytes) override {
    sent += bytes;
    return Status::Ok;
  }
  Status receive(std::string& into) override {
    if (in_.empty()) return Status::Closed;
    const std::size_t n = std::min(chunk_, in_.size());
    into += in_.substr(0, n);
    in_.erase(0, n);
    return Status::Ok;
  }
  void close() override {}
  std::string sent;

 private:
  std::string in_;
  std::size_t chunk_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvi;
  if (size == 0) return 0;
  const int mode = data[0] & 3;
  if (mode == 3) return 0;
  ReplayLink link(std::string(reinterpret_cast<const char*>(data) + 1, size - 1), 1 + (data[0] >> 3));
  fakes::FakeTlsFactory tls;
  tls.nextCert.untrusted = (data[0] & 4) != 0;
  settings::ConnectionTestInput in;
  in.host = u"h";
  in.tlsMode = mode;
  in.user = u"secretuser";
  in.password = u"secretpass";
  const settings::ConnectionTestResult r = settings::runConnectionTest(in, link, tls);
  settings::connectionTestReport(in, r);
  const bool userSent = link.sent.find("secretuser") != std::string::npos;
  const bool passSent = link.sent.find("secretpass") != std::string::npos;
  check(mode == kPlain || (!userSent && !passSent), "user name or password in the clear under TLS");
  if (mode != kPlain && tls.nextCert.untrusted) {
    // The fake's records carry their payload XORed with 0x5A.
    std::string sealedUser = "USER";
    for (char& c : sealedUser) c = static_cast<char>(c ^ 0x5A);
    check(link.sent.find(sealedUser) == std::string::npos, "USER sent over a refused certificate");
    check(!r.loggedOn, "logged on over a refused certificate");
  }
  return 0;
}
