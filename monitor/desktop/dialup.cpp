#include "monitor/desktop/dialup.h"

#include "common/app.h"

namespace tarvi {

Dialup::Dialup(DialupService& ras, Pump& pump, Dialogs& dialogs, const SettingsStore& store,
               const GeneralSettings& opt, Timers* timers)
    : ras_(ras), pump_(pump), dialogs_(dialogs), store_(store), opt_(opt), timers_(timers) {}

int Dialup::countConnections() { return static_cast<int>(ras_.connections().size()); }

int Dialup::dialUp(const Text& entry, int redials) {
  if (countConnections() == 1) return 0;
  // A line that neither comes up nor fails (a modem that never answers)
  // would hold the check, and the popup, forever.
  std::optional<std::uint64_t> giveUpAt;
  if (timers_)
    if (const auto now = timers_->nowMs())
      giveUpAt = *now + (opt_.sessionLimitMinutes > 0 ? static_cast<std::uint64_t>(opt_.sessionLimitMinutes) * 60000
                                                      : kDialLimitMs);
  bool outOfTime = false;
  for (int left = redials < 0 ? 0 : redials;; --left) {
    // Each attempt starts from no connection: the service takes a non-zero
    // handle as a request to resume, which a hung-up line cannot be.
    RasHandle handle = 0;
    bool failed = ras_.dial(entry, handle) != 0;
    while (!failed) {
      std::uint32_t state = 0;
      const std::uint32_t r = ras_.connectStatus(handle, state);
      pump_.doEvents();
      if (pump_.quitting()) {
        // Unloaded while dialling: the line is given up and nothing more
        // is done for a monitor that is gone.
        ras_.hangUp(handle);
        return -1;
      }
      if (giveUpAt && timers_->nowMs().value_or(0) >= *giveUpAt) outOfTime = true;
      if (r != 0 || state == kRasDisconnected || outOfTime) {
        failed = true;
      } else if (state == kRasConnected) {
        return 0;
      } else {
        pump_.idle();
      }
    }
    ras_.hangUp(handle);
    if (left <= 0 || outOfTime) break;
  }
  dialogs_.messageBox(kDialFailed, kAppTitle, MsgButtons::Ok, MsgIcon::Critical);
  return -1;
}

void Dialup::hangUp() {
  const auto conns = ras_.connections();
  if (!conns.empty()) ras_.hangUp(conns.front());
}

int Dialup::redials() const {
  GeneralSettings s;
  for (const auto& k : generalKeys(s, KeyGroup::Dialup)) readKey(store_, k);
  return s.redialCount > 0 ? s.redialCount : 0;
}

std::optional<Text> Dialup::chosenEntry() {
  GeneralSettings s;
  s.dialEntryPosition = -1;
  const auto keys = generalKeys(s, KeyGroup::Dialup);
  if (!readKey(store_, keys[0]) || s.dialEntryPosition < 0) return std::nullopt;
  const auto names = ras_.entries();
  if (s.dialEntryPosition >= static_cast<int>(names.size())) return std::nullopt;
  return names[names.size() - 1 - static_cast<std::size_t>(s.dialEntryPosition)];
}

bool Dialup::mayLogon(bool periodicCheckRan) {
  if (!periodicCheckRan) {
    auto entry = chosenEntry();
    // Nothing chosen, nothing to dial: the logon goes on over whatever
    // network there is.
    if (!entry) return true;
    return dialUp(*entry, redials()) != -1;
  }
  if (opt_.skipChecksOffline && countConnections() == 0) return false;
  return true;
}

void Dialup::connectHotkey() {
  if (auto entry = chosenEntry()) dialUp(*entry, redials());
}

}  // namespace tarvi
