// Dial-up lines: dialling before a logon while no periodic check has run,
// the offline rule after that, and hanging up after a check. Every decision
// is taken from the live list of connections; nothing is remembered.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "common/settings.h"
#include "common/store.h"
#include "monitor/desktop/services.h"

namespace tarvi {

using RasHandle = std::uintptr_t;

constexpr std::uint32_t kRasConnected = 0x2000;
constexpr std::uint32_t kRasDisconnected = 0x2001;

// The Remote Access Service, or nothing where it is not installed.
class DialupService {
 public:
  virtual ~DialupService() = default;
  // Handles of the active connections, in the order the service lists them.
  virtual std::vector<RasHandle> connections() = 0;
  // Phone-book entry names in the order the service lists them.
  virtual std::vector<Text> entries() = 0;
  // Fills the dial parameters stored for the entry and dials it
  // asynchronously; `handle` must be 0 on entry and receives the new
  // connection. Returns the service's result, 0 when dialling started.
  virtual std::uint32_t dial(const Text& entry, RasHandle& handle) = 0;
  // Returns the service's result; `state` receives the connection state.
  virtual std::uint32_t connectStatus(RasHandle handle, std::uint32_t& state) = 0;
  virtual void hangUp(RasHandle handle) = 0;
};

inline constexpr const char16_t* kDialFailed = u"接続できませんでした";

class Dialup {
 public:
  Dialup(DialupService& ras, Pump& pump, Dialogs& dialogs, const SettingsStore& store,
         const GeneralSettings& opt);

  int countConnections();
  // 0 when a line is up, -1 when dialling failed and the user was told.
  int dialUp(const Text& entry, int redials);
  void hangUp();
  void Hangfun() { hangUp(); }

  // The entry the settings program chose: Defdialno is a position in its
  // list, which shows the phone book in reverse order. nullopt when none
  // is chosen or the phone book has no entry there.
  std::optional<Text> chosenEntry();
  int redialCount() const;

  // Asked by every logon: false abandons it.
  bool logonGate(int timerFlg);
  // The "接続" hotkey: dials the chosen entry; the result is not used.
  void connectHotkey();

 private:
  DialupService& ras_;
  Pump& pump_;
  Dialogs& dialogs_;
  const SettingsStore& store_;
  const GeneralSettings& opt_;
};

}  // namespace tarvi
