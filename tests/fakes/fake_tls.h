#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "common/tls.h"

namespace tarvi::fakes {

// A stand-in for TLS with the shape of the real thing, so that the code
// driving an engine meets what Schannel gives it: records (a header 'T',
// length high byte, length low byte, then the payload XORed with 0x5A), a
// handshake of one record each way, application data cut into records of
// at most kRecordPayload bytes, and a close record.
namespace faketls {

constexpr std::size_t kRecordPayload = 100;
inline const std::string kClientHello = "CLIENTHELLO ";  // + host
inline const std::string kServerHello = "SERVERHELLO";
inline const std::string kClose = "CLOSE";

inline std::string record(const std::string& payload) {
  std::string r = {'T', static_cast<char>(payload.size() >> 8), static_cast<char>(payload.size() & 0xFF)};
  for (char c : payload) r += static_cast<char>(c ^ 0x5A);
  return r;
}

// Application data as the server sends it: one record per kRecordPayload.
inline std::string seal(const std::string& plain) {
  std::string out;
  for (std::size_t i = 0; i < plain.size(); i += kRecordPayload) out += record(plain.substr(i, kRecordPayload));
  return out;
}

// Takes the first complete record off `in`: its payload, or false when the
// record is not complete yet. `bad` is set when `in` does not start with one.
inline bool open(std::string& in, std::string& payload, bool& bad) {
  bad = false;
  if (in.empty()) return false;
  if (in[0] != 'T') {
    bad = true;
    return false;
  }
  if (in.size() < 3) return false;
  const std::size_t n = (static_cast<unsigned char>(in[1]) << 8) | static_cast<unsigned char>(in[2]);
  if (in.size() < 3 + n) return false;
  payload.clear();
  for (std::size_t i = 0; i < n; ++i) payload += static_cast<char>(in[3 + i] ^ 0x5A);
  in.erase(0, 3 + n);
  return true;
}

// Every complete record of `in` (consumed), payloads joined.
inline std::string openAll(std::string& in) {
  std::string all, one;
  bool bad = false;
  while (open(in, one, bad)) all += one;
  return all;
}

}  // namespace faketls

class FakeTlsEngine : public TlsEngine {
 public:
  // What the tests set before the handshake.
  CertificateReport cert = [] {
    CertificateReport c;
    c.present = true;
    c.subject = u"CN=localhost";
    c.issuer = u"CN=Test CA";
    c.validFrom = u"2026/01/01 00:00";
    c.validTo = u"2027/01/01 00:00";
    c.sha256 = std::string(64, 'c');
    return c;
  }();
  bool failEncrypt = false;

  // What the engine was asked.
  std::string host;
  bool started = false, finished = false, shutDown = false;

  std::vector<std::string>* startedHosts = nullptr;  // the factory's records
  int* shutDowns = nullptr;

  TlsStatus start(const std::string& h, std::string& out) override {
    host = h;
    started = true;
    if (startedHosts) startedHosts->push_back(h);
    out += faketls::record(faketls::kClientHello + h);
    return TlsStatus::NeedMore;
  }
  TlsStatus handshake(std::string& in, std::string& out) override {
    std::string payload;
    bool bad = false;
    if (!faketls::open(in, payload, bad)) {
      if (!bad) return TlsStatus::NeedMore;
      error_ = u"bad handshake record";
      return TlsStatus::Failed;
    }
    if (payload != faketls::kServerHello) {
      error_ = u"handshake refused";
      return TlsStatus::Failed;
    }
    out += faketls::record("FINISHED");
    finished = true;
    return TlsStatus::Done;
  }
  CertificateReport certificate() override { return cert; }
  Text protocol() override { return u"TLS 1.2"; }
  bool encrypt(const std::string& plain, std::string& out) override {
    if (failEncrypt) return false;
    out += faketls::seal(plain);
    return true;
  }
  TlsStatus decrypt(std::string& in, std::string& plain) override {
    std::string payload;
    bool bad = false;
    while (faketls::open(in, payload, bad)) {
      if (payload == faketls::kClose) return TlsStatus::Closed;
      plain += payload;
    }
    if (bad) {
      error_ = u"bad record";
      return TlsStatus::Failed;
    }
    return in.empty() ? TlsStatus::Done : TlsStatus::NeedMore;
  }
  void shutdown(std::string& out) override {
    shutDown = true;
    if (shutDowns) ++*shutDowns;
    out += faketls::record(faketls::kClose);
  }
  Text lastError() override { return error_; }

 private:
  Text error_;
};

// Hands out engines and keeps a pointer to each, so a test can set the
// certificate of the next one or look at what the last one was asked.
class FakeTlsFactory : public TlsFactory {
 public:
  CertificateReport nextCert = FakeTlsEngine().cert;
  std::vector<FakeTlsEngine*> made;  // owned by their connections
  // What the engines were asked, outliving them.
  std::vector<std::string> hosts;
  int shutDowns = 0;

  std::unique_ptr<TlsEngine> create() override {
    auto e = std::make_unique<FakeTlsEngine>();
    e->cert = nextCert;
    e->startedHosts = &hosts;
    e->shutDowns = &shutDowns;
    made.push_back(e.get());
    return e;
  }
};

}  // namespace tarvi::fakes
