#include "common/tls_policy.h"

namespace tarvi {
namespace {

std::string lowerHex(const std::string& s) {
  std::string r;
  for (char c : s) {
    if (c == ':' || c == ' ') continue;  // pasted with separators
    r += (c >= 'A' && c <= 'F') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return r;
}

bool anyProblem(const CertificateReport& c) {
  return !c.present || c.untrusted || c.nameMismatch || c.expired || c.revoked;
}

}  // namespace

bool certificateAccepted(const CertificateReport& cert, const std::string& pin) {
  if (!cert.present) return false;
  const std::string want = lowerHex(pin);
  // A pin is a whole SHA-256: a short or empty one matches nothing.
  // A revocation is news the user did not have when accepting it.
  if (want.size() == 64 && want == lowerHex(cert.sha256) && !cert.revoked) return true;
  return !anyProblem(cert);
}

Text pinBinding(TextView host, int port, int mode) {
  return decimal(mode) + u" " + decimal(port) + u" " + Text(host);
}

std::string usablePin(const Text& pin, const Text& pinFor, TextView host, int port, int mode) {
  if (pin.empty() || pinFor != pinBinding(host, port, mode)) return {};
  return toUtf8(pin);
}

std::string tlsHostName(TextView host) { return toUtf8(host); }

Text certificateProblems(const CertificateReport& cert) {
  if (!cert.present) return u"ｻｰﾊﾞが証明書を送りませんでした";
  Text r;
  auto add = [&r](const char16_t* line) {
    if (!r.empty()) r += u"\r\n";
    r += line;
  };
  if (cert.untrusted) add(u"ｻｰﾊﾞの証明書は信頼されていません");
  if (cert.nameMismatch) add(u"ｻｰﾊﾞの証明書の名前がﾎｽﾄ名と一致しません");
  if (cert.expired) add(u"ｻｰﾊﾞの証明書は有効期間外です");
  if (cert.revoked) add(u"ｻｰﾊﾞの証明書は失効しています");
  return r;
}

Text certificateRefusedMessage(const CertificateReport& cert) {
  return certificateProblems(cert) + u"\r\nﾕｰｻﾞ名を送らずに接続を中止しました";
}

}  // namespace tarvi
