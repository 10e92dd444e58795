// TLS on Windows' own Schannel (SSPI), so that both programs need no DLL
// beyond Windows' own. The engine works on buffers only (see common/tls.h):
// the monitor drives it from socket notifications, the settings program from
// a worker thread.
//
// Windows is told not to judge the server's certificate in the handshake
// (manual validation): the engine checks it itself afterwards, in
// certificate(), the same way on Windows and on Wine, whose Schannel checks
// nothing. The caller decides with certificateAccepted() before it sends a
// user name.
#pragma once

#include <memory>

#include "common/tls.h"

namespace tarvi::win32 {

class SchannelFactory : public TlsFactory {
 public:
  // `fetchMissing`: a chain may fetch the certificates it lacks from the
  // network (the user's connection test); otherwise only what the system
  // holds is used, so that no check waits on a download.
  explicit SchannelFactory(bool fetchMissing = false);
  ~SchannelFactory() override;
  SchannelFactory(const SchannelFactory&) = delete;
  SchannelFactory& operator=(const SchannelFactory&) = delete;

  // A new engine for one connection. The factory may be destroyed before
  // its engines. Safe to call from any thread.
  std::unique_ptr<TlsEngine> create() override;

 private:
  bool fetchMissing_;
};

}  // namespace tarvi::win32
