// The monitor's main window `mailform` as the core sees it: it owns the
// settings copy and the per-account tables, runs the start-up sequence and
// the unload query, and holds the commands the hotkeys call. The Win32 shell
// forwards its window's events here and shows what it is told to.
#pragma once

#include <functional>
#include <vector>

#include "common/settings.h"
#include "common/store.h"
#include "monitor/desktop/services.h"

namespace tarvi {

struct MonitorServices {
  SettingsStore& store;
  TimerDriver& timers;
  Pump& pump;
  Dialogs& dialogs;
  Processes& processes;
  MainView& view;
  KeyboardLamp& lamp;
};

inline constexpr const char16_t* kAppTitle = u"Tarviメールチェッカー";

class MailForm {
 public:
  explicit MailForm(MonitorServices services);

  // Form initialisation. Returns false when the process must end at once
  // (another instance runs; the user has been told).
  bool initialize(bool anotherInstanceRunning, int twipsPerPixelX, int twipsPerPixelY);

  // The start-up sequence. Returns false when the monitor cannot go on and
  // must end without the unload query (the user has been told why).
  bool load();

  // The unload query. True: the window may go (hotkeys released, layout
  // saved). False: the unload is cancelled and the window hidden.
  bool queryUnload();

  // A tick of one of the window's timers.
  void onTimer(TimerId id);

  // Commands.
  void turnoff();
  void mnu_pop();
  void mnu_end();
  void Endfun();
  void mnu_opt();

  // Launching: the settings program (then everything is reloaded) and the
  // two configured mail programs.
  void OpenOption();
  void ExecMailapp(int n);
  void MailBt_Click(int index);

  // Settings.
  bool loadoption();  // false when a value did not convert
  void loadadata(int n);

  // Starts a program and waits for it, pumping messages. False when the
  // program could not be started.
  bool startAndWait(const Text& commandLine);
  void waitProcess(std::uint32_t pid);

  // Other parts of the monitor keep per-account tables too; they register
  // here to be resized (keeping their entries) whenever accountno is read.
  void onAccountCountRead(std::function<void(int accounts)> resize) {
    accountTableResizers_.push_back(std::move(resize));
  }
  // Called at step 4b of every configuration pass to empty the mail table.
  std::function<void(int accounts)> resetMailTable;
  // Hotkey registration (1) and release (0), and the window hook that
  // catches the hotkey messages.
  std::function<void(int on)> setupHotkeys;
  std::function<void()> hookWindow;
  std::function<void()> unhookWindow;
  // Popup set-up at start-up and layout saving at unload.
  std::function<void()> initGrid;
  std::function<void()> saveLayout;
  // The first check after start-up when Option5value is set.
  std::function<void()> checkmail;
  // Cleared before the first check (the check cycle's flag).
  std::function<void()> clearNoNotify;
  // Handlers of the timers the form does not handle itself, set by the
  // parts of the monitor that own them.
  std::array<std::function<void()>, kTimerCount> timerHandlers;
  // The check cycle's total of listed messages, zeroed when the account
  // count changes.
  std::function<void()> resetMailTotal;

  GeneralSettings opt;
  AccountSettings cur;
  // Per-account tables, index 1..accountno (entry 0 unused).
  std::vector<std::int32_t> Scolor1, Scolor2;
  std::vector<std::int16_t> Wavmode;
  std::vector<Text> Wavdir2_;
  int twipsX = 15, twipsY = 15;

  Timers timers;
  MonitorServices svc;

 private:
  void resizeAccountTables(int accounts);
  std::vector<std::function<void(int)>> accountTableResizers_;
};

}  // namespace tarvi
