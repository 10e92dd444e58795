// The monitor's root: it owns the settings copy, the check cycle and the
// runs, the popup and the viewer, the alerts, the hotkeys and the dial-up
// line, runs the start-up sequence, the commands and the decisions of the
// unload and of the end of the Windows session. The Win32 shell forwards
// its window's events here and shows what it is told to.
#pragma once

#include <cstdint>

#include "common/store.h"
#include "common/tls.h"
#include "monitor/cycle/checker.h"
#include "monitor/desktop/alerts.h"
#include "monitor/desktop/dialup.h"
#include "monitor/desktop/hotkeys.h"
#include "monitor/desktop/launcher.h"
#include "monitor/desktop/tray.h"
#include "monitor/popup/popup_model.h"
#include "monitor/popup/viewer_model.h"
#include "monitor/services/charset.h"
#include "monitor/services/dialup_service.h"
#include "monitor/services/hotkey_registrar.h"
#include "monitor/services/list_store.h"
#include "monitor/services/services.h"
#include "monitor/services/socket_api.h"
#include "monitor/services/tray_icon.h"
#include "monitor/services/user_attention.h"
#include "monitor/state/monitor_state.h"

namespace tarvi {

struct MonitorServices {
  SettingsStore& store;
  TimerDriver& timers;
  Pump& pump;
  Dialogs& dialogs;
  Processes& processes;
  MainView& window;
  PopupView& popupView;
  ViewerView& viewerView;
  KeyboardLamp& lamp;
  SoundPlayer& sound;
  SocketApi& sockets;
  DialupService& dialup;
  HotkeyRegistrar& hotkeys;
  CharsetConverter& charsets;  // the charsets the core does not know itself
  TrayIcon& trayIcon;
  ListStore& lists;  // what the fast check listed, per mailbox
  // Engines for the accounts with TLS; without one they fail with a message.
  TlsFactory* tls = nullptr;
  // Where the push connections are made; the same sockets unless given
  // (the tests give them a server of their own).
  SocketApi* pushSockets = nullptr;
  // Renews the access tokens of the accounts signed in with a provider.
  TokenService* tokens = nullptr;
  // Without it the user is never busy.
  UserAttention* attention = nullptr;
  // Without it the machine is always online.
  NetworkState* network = nullptr;
};

class Monitor : private CycleListener {
 public:
  explicit Monitor(MonitorServices services);

  // Before the window exists. False when the process must end at once
  // (another monitor runs; the user has been told).
  bool initialize(bool anotherInstanceRunning, int twipsPerPixelX, int twipsPerPixelY);
  // The window exists now: the timers set so far take effect.
  void windowCreated() { timers_.reapply(); }
  // The start-up sequence. False when the monitor cannot go on and must
  // end without the unload query (the user has been told why).
  bool load();

  // The unload query: true when the window may go (hotkeys released,
  // layout saved); false when the unload is cancelled and the window hidden.
  bool queryUnload();
  // A close request: `ours` when the monitor asked for it itself; any other
  // (the system menu, another program) is ignored. True: destroy the window.
  bool closeRequested(bool ours);
  // Windows asks whether the session may end: the same question as at
  // "終了". The answer.
  bool endSessionQueried();
  // The session ends (`ending`) or another program cancelled it. True:
  // destroy the window. Once the user agreed, the hotkeys and the hook are
  // gone, and a monitor left running could only be ended by force.
  bool sessionEnding(bool ending) const { return ending || endAgreed_; }

  // Events.
  void onTimer(TimerId id);
  // The machine goes to sleep, wakes up; the networks changed.
  void onSuspend() { checker_.suspend(); }
  void onResume() { checker_.resume(); }
  void onNetworkChanged() { checker_.networkChanged(); }
  void onSocket(SocketHandle sock, std::uint32_t tag, int error, int event) {
    checker_.onNotify(sock, tag, error, event);
  }
  // A reply of a sign-in provider to a token renewal.
  void onTokenReply(std::uint32_t request, const TokenReply& reply) { checker_.onTokenReply(request, reply); }
  // A WM_HOTKEY; false when no function has that id.
  bool onHotkey(std::uintptr_t id);
  void run(HotkeyCommand command);

  // Explorer was restarted and lost the notification-area icon.
  void taskbarRecreated() { tray_.taskbarRecreated(); }

  // Commands.
  void checkAll() { checker_.checkAll(); }
  // Also what the check cycle does before each check and run.
  void stopLamp() override { blinker_.stop(); }
  void showPopup();
  void quit();
  void openSettings();
  // Runs the settings program, waits for it and takes over what it changed.
  void runSettingsProgram();
  void startMailer(int n);
  // Whether an account must be signed in again, and doing it: the settings
  // program signs in the first such account, then that account is checked.
  bool needsSignIn() const { return !signInLost_.empty(); }
  void signInAgain();

  // The popup's controls.
  void retrieveMarked() { checker_.retrieveMarked(); }
  void deleteMarked() { checker_.deleteMarked(); }
  void startMailerFromPopup(int n);
  void showLog() { viewer_.showLog(checker_.sessionLog()); }
  void closePopup();
  void clickRow(int row) { popup_.clickRow(row); }
  void openRow(int row) { viewer_.openRow(popup_.grid, row, svc_.popupView); }
  void layoutPopup() { popup_.layoutControls(twipsX_, twipsY_); }

  // Settings.
  bool loadSettings();  // false when a value did not convert

  MonitorState& state() { return state_; }
  Checker& checker() { return checker_; }
  Popup& popup() { return popup_; }
  Hotkeys& hotkeys() { return hotkeys_; }
  Timers& timers() { return timers_; }
  Tray& tray() { return tray_; }

 private:
  // CycleListener
  bool mayLogon(bool periodicCheckRan) override { return dialup_.mayLogon(periodicCheckRan); }
  void offlineChanged(bool offline) override { tray_.setOffline(offline); }
  bool dialsUp() override { return dialup_.dialsUp(); }
  void checkFinished() override;
  void takeMarks() override { popup_.grid.takeMarks(state_.accounts); }
  void runAccountStarting() override;
  void retrieveFinished() override;
  void signInLost(int a) override;
  // " -ｻｲﾝｲﾝが必要: name-" after the caption while an account needs it.
  Text signInCaption() const;
  std::vector<Text> signInLostNames() const;

  // Registers the hotkeys and acts on the user's answer when they fail.
  void registerHotkeys();
  void clearMailTable() { state_.accounts.resetListings(); }
  // After the settings program: forgets the listing of every account that
  // now stands for another server or user. True when the account list
  // changed at all.
  bool forgetChangedAccounts(int countBefore);
  // The user turned to the news (the popup, a mail program, the settings):
  // the lamp stops and the tray's new-mail picture goes.
  void newMailSeen();
  std::vector<Text> newMailAccounts() const;
  // The platform is asked only with the option on: off, nothing changes.
  bool mustNotDisturb() const;
  // Shows the popup for new mail, or keeps it waiting while the user must
  // not be disturbed.
  void showNewMailPopup(bool quiet);

  MonitorServices svc_;
  MonitorState state_;
  Timers timers_;
  Launcher launcher_;
  LampBlinker blinker_;
  Dialup dialup_;
  Hotkeys hotkeys_;
  Popup popup_;
  MessageViewer viewer_;
  Checker checker_;
  Tray tray_;
  int twipsX_ = 15, twipsY_ = 15;
  bool unloading_ = false;
  bool endAgreed_ = false;  // the user agreed to end the Windows session
  std::vector<int> signInLost_;  // accounts whose sign-in the provider refused
  bool choosingKeysAgain_ = false;  // the keys failed once; the user is choosing others
  bool settingsRunning_ = false;    // the settings program is open, waited for
};

}  // namespace tarvi
