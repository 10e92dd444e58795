// TLS for both programs, reduced to buffers: the engine never touches a
// socket. The caller feeds it the bytes received and sends the bytes it
// produces, so the monitor can drive it from socket notifications and the
// settings program from a worker thread. On Windows the engine is Schannel;
// in tests a fake.
#pragma once

#include <memory>
#include <string>

#include "common/text.h"

namespace tarvi {

// What the engine found of the server's certificate, after the handshake.
// The engine reports; the decision (pin, problems) is made by the caller.
struct CertificateReport {
  bool present = false;  // false: the server sent none
  Text subject;          // display forms, for the user
  Text issuer;
  Text validFrom;        // "YYYY/MM/DD hh:mm" local time
  Text validTo;
  std::string sha256;  // lower-case hex of the DER certificate, 64 digits
  // Problems found by the chain and policy checks against the host name as
  // configured; several may hold.
  bool untrusted = false;     // no chain to a trusted root, or any chain error
  bool nameMismatch = false;  // the host name is not among the certificate's names
  bool expired = false;       // outside its validity (expired or not yet valid)
  bool revoked = false;

  bool operator==(const CertificateReport&) const = default;
};

enum class TlsStatus {
  Done,      // the step is complete
  NeedMore,  // more bytes must be received first
  Closed,    // the server ended TLS (close_notify)
  Failed,    // see lastError()
};

class TlsEngine {
 public:
  virtual ~TlsEngine() = default;
  // Begins the client handshake with `host`, the name the certificate must
  // carry; appends the first bytes to send to `out`.
  virtual TlsStatus start(const std::string& host, std::string& out) = 0;
  // One handshake step: consumes what it can of `in` (bytes received so far,
  // however they were cut) and appends bytes to send to `out` (which may be
  // filled even when the result is NeedMore or Done). At Done, bytes in `in`
  // after the handshake stay there for decrypt().
  virtual TlsStatus handshake(std::string& in, std::string& out) = 0;
  // After the handshake.
  virtual CertificateReport certificate() = 0;
  virtual Text protocol() = 0;  // e.g. u"TLS 1.2"
  // Appends the records carrying `plain` to `out`. False on failure.
  virtual bool encrypt(const std::string& plain, std::string& out) = 0;
  // Consumes every complete record at the start of `in` and appends its
  // plain bytes to `plain`; a partial record stays in `in` (NeedMore).
  // Done when `in` was used up; Closed at close_notify.
  virtual TlsStatus decrypt(std::string& in, std::string& plain) = 0;
  // Appends a close_notify to `out` (nothing when there is no session).
  virtual void shutdown(std::string& out) = 0;
  // Why the last step failed, for the user ("" when nothing failed).
  virtual Text lastError() = 0;
};

class TlsFactory {
 public:
  virtual ~TlsFactory() = default;
  virtual std::unique_ptr<TlsEngine> create() = 0;
};

}  // namespace tarvi
