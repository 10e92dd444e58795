#include "monitor/desktop/dialup.h"

#include "monitor/desktop/mail_form.h"

namespace tarvi {

Dialup::Dialup(DialupService& ras, Pump& pump, Dialogs& dialogs, const SettingsStore& store,
               const GeneralSettings& opt)
    : ras_(ras), pump_(pump), dialogs_(dialogs), store_(store), opt_(opt) {}

int Dialup::countConnections() { return static_cast<int>(ras_.connections().size()); }

int Dialup::dialUp(const Text& entry, int redials) {
  if (countConnections() == 1) return 0;
  for (int left = redials < 0 ? 0 : redials;; --left) {
    // Each attempt starts from no connection: the service takes a non-zero
    // handle as a request to resume, which a hung-up line cannot be.
    RasHandle handle = 0;
    bool failed = ras_.dial(entry, handle) != 0;
    while (!failed) {
      std::uint32_t state = 0;
      const std::uint32_t r = ras_.connectStatus(handle, state);
      pump_.doEvents();
      if (r != 0 || state == kRasDisconnected) {
        failed = true;
      } else if (state == kRasConnected) {
        return 0;
      } else {
        pump_.idle();
      }
    }
    ras_.hangUp(handle);
    if (left <= 0) break;
  }
  dialogs_.messageBox(kDialFailed, kAppTitle, MsgButtons::Ok, MsgIcon::Critical);
  return -1;
}

void Dialup::hangUp() {
  const auto conns = ras_.connections();
  if (!conns.empty()) ras_.hangUp(conns.front());
}

int Dialup::redialCount() const {
  GeneralSettings d;
  auto v = parseInt16(store_.read(u"Redialval", decimal(d.Redialval)));
  return v && *v > 0 ? *v : 0;
}

std::optional<Text> Dialup::chosenEntry() {
  GeneralSettings d;
  auto pos = parseInt16(store_.read(u"Defdialno", decimal(d.Defdialno)));
  if (!pos || *pos < 0) return std::nullopt;
  const auto names = ras_.entries();
  if (*pos >= static_cast<int>(names.size())) return std::nullopt;
  return names[names.size() - 1 - static_cast<std::size_t>(*pos)];
}

bool Dialup::logonGate(int timerFlg) {
  if (timerFlg == 0) {
    auto entry = chosenEntry();
    // Nothing chosen, nothing to dial: the logon goes on over whatever
    // network there is.
    if (!entry) return true;
    return dialUp(*entry, redialCount()) != -1;
  }
  if (opt_.Option10value == 1 && countConnections() == 0) return false;
  return true;
}

void Dialup::connectHotkey() {
  if (auto entry = chosenEntry()) dialUp(*entry, redialCount());
}

}  // namespace tarvi
