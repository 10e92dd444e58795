// Dial-up lines: dialling before a logon while no periodic check has run,
// the offline rule after that, and hanging up after a check. Every decision
// is taken from the live list of connections; nothing is remembered.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "common/settings.h"
#include "common/store.h"
#include "monitor/services/dialup_service.h"
#include "monitor/services/services.h"

namespace tarvi {

inline constexpr const char16_t* kDialFailed = u"接続できませんでした";

class Dialup {
 public:
  // With `timers` (its clock) a dial that never ends is given up after the
  // session's time limit (kDialLimitMs without one).
  Dialup(DialupService& ras, Pump& pump, Dialogs& dialogs, const SettingsStore& store,
         const GeneralSettings& opt, Timers* timers = nullptr);
  static constexpr std::uint64_t kDialLimitMs = 3 * 60000;

  int countConnections();
  // 0 when a line is up, -1 when dialling failed and the user was told.
  int dialUp(const Text& entry, int redials);
  void hangUp();

  // The entry the settings program chose: Defdialno is a position in its
  // list, which shows the phone book in reverse order. nullopt when none
  // is chosen or the phone book has no entry there.
  std::optional<Text> chosenEntry();
  int redials() const;
  // An entry is chosen: the monitor makes its own line when it checks.
  bool dialsUp() { return chosenEntry().has_value(); }

  // Asked by every logon: false abandons it. Until the first periodic
  // check the chosen entry is dialled; after it, no line means no check
  // when so configured.
  bool mayLogon(bool periodicCheckRan);
  // The "接続" hotkey: dials the chosen entry; the result is not used.
  void connectHotkey();

 private:
  DialupService& ras_;
  Pump& pump_;
  Dialogs& dialogs_;
  const SettingsStore& store_;
  const GeneralSettings& opt_;
  Timers* timers_;
};

}  // namespace tarvi
