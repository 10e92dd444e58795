#include "monitor/win32/socket_wiring.h"

namespace tarvi::win32 {

CheckWiring::CheckWiring(HINSTANCE instance, MailForm& f)
    : form(f),
      sockets(instance),
      transport(sockets, f),
      session(transport, tally, mailList),
      cycle(f, transport, tally),
      dialup(ras, f.svc.pump, f.svc.dialogs, f.svc.store, f.opt) {}

bool CheckWiring::install() {
  if (!sockets.create()) return false;
  sockets.onNotify = [this](SocketHandle s, int error) { transport.onNotify(s, error); };
  transport.setHandler(SessionKind::Check, &session);
  transport.clock = [] { return static_cast<std::uint64_t>(GetTickCount64()); };
  transport.gate = [this] { return dialup.logonGate(cycle.timerFlg); };
  cycle.hooks.Hangfun = [this] { dialup.Hangfun(); };
  cycle.install();
  if (!form.resetMailTable) form.resetMailTable = [this](int accounts) { mailList.redim(accounts); };
  return true;
}

}  // namespace tarvi::win32
