// The push connections: one per account whose server can tell of new mail
// at once (IMAP IDLE), each on a transport of its own beside the cycle's,
// with tags apart. What the server says of the folder asks the cycle for a
// check of that account. A connection that drops, fails or stops answering
// is opened again after a pause that grows with every failure and starts
// over once an idle has held for a minute: never a tight loop, never an
// error box per try.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "common/store.h"
#include "common/tls.h"
#include "monitor/cycle/tokens.h"
#include "monitor/net/transport.h"
#include "monitor/protocol/protocols.h"
#include "monitor/services/services.h"
#include "monitor/services/socket_api.h"
#include "monitor/state/monitor_state.h"

namespace tarvi {

// Seconds to wait before the next try after `failures` failed ones in a
// row: 5 s, doubling, at most 10 minutes.
int reconnectPause(int failures);

class PushKeeper {
 public:
  // Longest a connection may take to reach its idle, or to answer the
  // renewal of one, before it is given up and tried again.
  static constexpr int kAnswerSeconds = 60;
  // The idle is renewed well before the 30 minutes after which a server
  // may drop it.
  static constexpr int kRenewSeconds = 25 * 60;

  PushKeeper(SocketApi& sockets, Pump& pump, Timers& timers, std::function<void(int account)> folderChanged);
  ~PushKeeper();

  // The accounts as the settings now stand: connections for those that
  // push, none left for those that do not (or no longer stand for the
  // same mailbox).
  void configure(const SettingsStore& store, int accountCount);
  // Every push connection ends (LOGOUT where it is open).
  void stopAll();
  // The seconds tick: tries due, renewals, answers overdue.
  void tick();
  void onNotify(SocketHandle sock, std::uint32_t tag, int error, int event);
  // The account's server is telling of its new mail now.
  bool idling(int account) const;

  // A network came up after none: the connections waiting out their
  // pauses (grown long while nothing could connect) are tried now, and
  // their pauses start over.
  void retryWaiting();
  // A token account's access token arrived (or its renewal failed).
  void tokenArrived(int account);

  TlsFactory* tls = nullptr;
  SecretKeeper* secrets = nullptr;  // reads the stored passwords and tokens
  TokenKeeper* tokens = nullptr;    // the access tokens of signed-in accounts

 private:
  struct Slot;
  void open(Slot& s);

  SocketApi& sockets_;
  Pump& pump_;
  Timers& timers_;
  std::function<void(int)> folderChanged_;
  // Shared, so that a loop over them keeps each alive while a handler
  // nested in its pumping reconfigures the keeper.
  std::vector<std::shared_ptr<Slot>> slots_;
  std::uint64_t now_ = 0;  // seconds of ticks
  std::uint32_t nextRange_ = 1;
};

}  // namespace tarvi
