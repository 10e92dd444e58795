// The notification-area icon: when it is there, what its tooltip says,
// which picture it shows, what its balloon and its menu say. The platform
// only draws what it is told and hands clicks to the commands of the menu.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "common/settings.h"
#include "monitor/desktop/hotkeys.h"
#include "monitor/services/services.h"
#include "monitor/services/tray_icon.h"

namespace tarvi {

// One line of the icon's menu; a separator has no command.
struct TrayMenuEntry {
  Text label;
  std::optional<HotkeyCommand> command;
};

// The right-click menu, top to bottom. Each entry is the command of a
// hotkey, so the menu and the keys can never do different things.
const std::vector<TrayMenuEntry>& trayMenu();
// What a left click does.
constexpr HotkeyCommand kTrayClickCommand = HotkeyCommand::Popup;

// "Tarviメールチェッカー", and after a check the total and its time:
// "Tarviメールチェッカー\n3通 (09:05)".
Text trayTooltip(std::optional<std::int64_t> total, std::optional<LocalTime> checkedAt);

struct BalloonText {
  Text title;
  Text text;
};
// "N通のメールが届いています" over the names of the accounts with new mail,
// one a line.
BalloonText newMailBalloon(std::int64_t total, const std::vector<Text>& accounts);

class Tray {
 public:
  Tray(TrayIcon& icon, const GeneralSettings& options) : icon_(icon), opt_(options) {}

  // At load and after each reading of the settings: adds the icon when the
  // option is on and it is not there, removes it when the option is off.
  void applyOption();
  // The monitor is going: the icon goes with it.
  void remove();
  // Explorer started again and forgot every icon.
  void taskbarRecreated();
  // A check ended: the tooltip and the picture follow, and new mail is
  // announced. `newMailAccounts` names the accounts that have new mail.
  void checkFinished(std::int64_t total, std::optional<LocalTime> at,
                     const std::vector<Text>& newMailAccounts);
  // The total changed without a check (a run, another account list).
  void totalChanged(std::int64_t total);
  // The user has seen the news (the popup, the lamp stopped): the
  // ordinary picture comes back.
  void newMailSeen();

  // The accounts whose sign-in must be done again, named in the tooltip;
  // the first time an account is named, a balloon says so (false when no
  // icon could carry it: the caller tells the user otherwise).
  bool signInNeeded(const std::vector<Text>& accounts, const Text& newlyLost);

  // No network is up: the tooltip says so on a line of its own.
  void setOffline(bool offline);

  // The balloon last shown asks for a sign-in: a click on it starts one.
  bool signInBalloon() const { return signInBalloon_; }

  bool shown() const { return shown_; }
  bool newMailPicture() const { return newMail_; }

 private:
  Text tooltip() const;
  void refresh();

  TrayIcon& icon_;
  const GeneralSettings& opt_;
  bool shown_ = false;
  bool newMail_ = false;
  std::optional<std::int64_t> total_;
  std::optional<LocalTime> checkedAt_;
  std::vector<Text> signInNeeded_;
  bool signInBalloon_ = false;
  bool offline_ = false;
};

inline constexpr const char16_t* kOffline = u"オフライン";

inline constexpr const char16_t* kSignInNeededLead = u"ｻｲﾝｲﾝが必要: ";
// The menu entry that signs in again the first account that needs it,
// shown only while one does.
inline constexpr const char16_t* kSignInMenuLabel = u"サインイン...";

}  // namespace tarvi
