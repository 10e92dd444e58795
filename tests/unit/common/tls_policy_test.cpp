#include "common/tls_policy.h"

#include <gtest/gtest.h>

namespace tarvi {
namespace {

const std::string kSha(64, 'a');

CertificateReport cert(bool untrusted, bool name, bool expired, bool revoked) {
  CertificateReport c;
  c.present = true;
  c.sha256 = kSha;
  c.untrusted = untrusted;
  c.nameMismatch = name;
  c.expired = expired;
  c.revoked = revoked;
  return c;
}

TEST(TlsPolicy, EachProblemRefusesUnlessTheWholeFingerprintIsPinned) {
  const struct {
    CertificateReport c;
    const char16_t* reason;
  } cases[] = {
      {cert(true, false, false, false), u"信頼されていません"},
      {cert(false, true, false, false), u"一致しません"},
      {cert(false, false, true, false), u"有効期間外"},
      {cert(false, false, false, true), u"失効"},
  };
  for (const auto& k : cases) {
    EXPECT_FALSE(certificateAccepted(k.c, ""));
    EXPECT_FALSE(certificateAccepted(k.c, std::string(63, 'a')));  // a prefix is no pin
    EXPECT_FALSE(certificateAccepted(k.c, std::string(64, 'b')));
    // Either case; never a revoked one.
    EXPECT_EQ(certificateAccepted(k.c, std::string(64, 'A')), !k.c.revoked);
    EXPECT_NE(certificateProblems(k.c).find(k.reason), Text::npos);
    EXPECT_NE(certificateRefusedMessage(k.c).find(u"ﾕｰｻﾞ名を送らずに"), Text::npos);
  }
  EXPECT_TRUE(certificateAccepted(cert(false, false, false, false), ""));
  EXPECT_EQ(certificateProblems(cert(false, false, false, false)), u"");
  // No certificate at all passes nothing, not even an empty pin's "match".
  CertificateReport none;
  EXPECT_FALSE(certificateAccepted(none, ""));
  EXPECT_NE(certificateProblems(none), u"");
}

TEST(TlsPolicy, APinCountsOnlyForWhatItWasAcceptedFor) {
  const Text pinFor = pinBinding(u"pop.example.jp", 995, 1);
  const struct {
    const char16_t* host;
    int port, mode;
    const char16_t* pinFor;
    std::string usable;
  } cases[] = {
      {u"pop.example.jp", 995, 1, pinFor.c_str(), kSha},
      {u"pop.example.com", 995, 1, pinFor.c_str(), ""},
      {u"pop.example.jp", 996, 1, pinFor.c_str(), ""},
      {u"pop.example.jp", 995, 2, pinFor.c_str(), ""},
      {u"pop.example.jp", 995, 1, u"", ""},  // a pin of an earlier version: bound to nothing
  };
  for (const auto& c : cases)
    EXPECT_EQ(usablePin(ascii(kSha), c.pinFor, c.host, c.port, c.mode), c.usable) << toUtf8(c.host) << c.port << c.mode;
}

}  // namespace
}  // namespace tarvi
