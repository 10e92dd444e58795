#include "monitor/app/monitor.h"

#include <gtest/gtest.h>

#include "tests/fakes/monitor_rig.h"

namespace tarvi::fakes {
namespace {

using Lines = std::vector<std::string>;
const std::string kTitle = "Tarviメールチェッカー";
const std::string kSettings = "\"C:\\apps\\tarvicfg.exe\"";
const std::string kConfigureFirst = "最初に設定をしてください";

// How often the eight hotkeys have been registered so far.
int hotkeyPasses(const FakeRegistrar& r) { return (r.nextAtom - 0xC000) / kHotkeyCount; }

// The monitor with one account, started.
struct Started : MonitorRig {
  Started() {
    addAccount(1, "A").messages = {message("a", "1")};
    EXPECT_TRUE(start());
  }
};

TEST(Monitor, SecondInstanceIsToldAndStops) {
  MonitorRig rig;
  EXPECT_FALSE(rig.monitor.initialize(true, 15, 15));
  ASSERT_EQ(rig.dialogs.boxes.size(), 1u);
  EXPECT_EQ(rig.dialogs.boxes[0].text, "既に起動しています");
  EXPECT_EQ(rig.dialogs.boxes[0].title, kTitle);
  EXPECT_TRUE(rig.store.writes.empty());
}

TEST(Monitor, StartUpSequence) {
  for (bool checkAtStartup : {true, false}) {
    MonitorRig rig;
    rig.addAccount(1, "A").messages = {message("a", "1")};
    rig.addAccount(2, "B").messages = {message("b", "2"), message("c", "3")};
    rig.store.set("Option5value", checkAtStartup ? "1" : "0");
    rig.store.set("Option8value", "1");
    rig.store.set("Mailerdir2", "C:\\mail.exe");
    rig.store.set("Checktimerval", checkAtStartup ? "3" : "0");
    rig.window.shown = true;
    ASSERT_TRUE(rig.start());
    EXPECT_FALSE(rig.window.shown);
    EXPECT_TRUE(rig.window.closeMenuRemoved);
    EXPECT_TRUE(rig.registrar.hooked);
    EXPECT_EQ(rig.registrar.registered.size(), 8u);
    EXPECT_EQ(rig.window.mailerEnabled, (std::map<int, bool>{{1, false}, {2, true}}));
    EXPECT_TRUE(rig.window.logVisible);
    EXPECT_EQ(rig.window.size, (std::pair<int, int>{8730, 4710}));
    EXPECT_EQ(rig.window.captions.at(0), kTitle);
    EXPECT_EQ(rig.lamp.calls.at(0), "out");
    EXPECT_EQ(rig.state().accounts.count(), 2);
    EXPECT_EQ(rig.monitor.timers().interval(TimerId::periodicCheck), checkAtStartup ? 60000u : 0u);
    rig.settle();
    EXPECT_EQ(rig.sock.opened, checkAtStartup ? 2 : 0);
    EXPECT_EQ(rig.window.lastCaption(), checkAtStartup ? "3通のメールが届いています!" : kTitle);
    EXPECT_TRUE(rig.dialogs.boxes.empty());
  }
}

TEST(Monitor, UnconfiguredAsksAndRunsTheSettingsUntilAnAccountExists) {
  MonitorRig rig;
  int runs = 0;
  rig.processes.onStart = [&](const Text&) {
    if (++runs == 2) rig.addAccount(1, "A");  // stored at the second visit
    rig.processes.pollsRunning = 3;
  };
  ASSERT_TRUE(rig.start());
  EXPECT_EQ(rig.processes.started, (Lines{kSettings, kSettings}));
  EXPECT_EQ(rig.dialogs.texts(), (Lines{kConfigureFirst, kConfigureFirst}));
  EXPECT_EQ(rig.processes.closes, 2);
  EXPECT_EQ(hotkeyPasses(rig.registrar), 3);  // in every pass, before the account check
  EXPECT_GE(rig.pump.pumps, 8);               // the wait pumps while the program runs
}

TEST(Monitor, SettingsProgramThatCannotStartEndsTheMonitor) {
  MonitorRig rig;
  rig.processes.startFails = true;
  EXPECT_FALSE(rig.start());
  EXPECT_EQ(rig.dialogs.texts(),
            (Lines{kConfigureFirst, "設定プログラム(tarvicfg.exe)を起動できませんでした\r\n終了します"}));
  EXPECT_TRUE(rig.registrar.registered.empty());
  EXPECT_TRUE(rig.registrar.atoms.empty());
}

TEST(Monitor, HotkeysThatCannotBeRegisteredAtStartUp) {
  const std::string failed = "切断の起動キーCtrl+F9の設定に失敗しました";
  const std::string askAgain = "起動キーを設定し直してください\r\n「いいえ」で終了します。";
  struct Case {
    bool again;       // the user's answer: choose other keys
    bool keyChanged;  // ...and the settings program chose a free one
    Lines boxes;
    std::size_t registered;
  } cases[] = {
      {true, true, {failed, askAgain}, 8},
      // Still taken: told once more, not asked again, and the monitor goes
      // on without it.
      {true, false, {failed, askAgain, failed}, 7},
      // Otherwise the unload query runs, and the monitor ends whatever it was answered.
      {false, false, {failed, askAgain, "終了しますか？"}, 0},
  };
  for (const auto& c : cases) {
    MonitorRig rig;
    rig.addAccount(1, "A");
    rig.registrar.taken = {kModControl << 16 | 0x78};  // Ctrl+F9, the eighth key
    rig.processes.onStart = [&](const Text&) {
      if (c.keyChanged) rig.store.set("Hotkeynum7", "121");  // Ctrl+F10
    };
    rig.dialogs.answers = {MsgAnswer::Ok, c.again ? MsgAnswer::Yes : MsgAnswer::No, c.again ? MsgAnswer::Ok : MsgAnswer::Yes};
    rig.start();
    EXPECT_EQ(rig.dialogs.texts(), c.boxes) << c.again << c.keyChanged;
    EXPECT_EQ(rig.processes.started, c.again ? Lines{kSettings} : Lines{});
    EXPECT_EQ(rig.registrar.registered.size(), c.registered);
    EXPECT_EQ(rig.processes.exits, c.again ? 0 : 1);
  }
}

TEST(Monitor, SettingsThatDoNotConvertAreNotApplied) {
  MonitorRig rig;
  rig.addAccount(1, "A");
  rig.store.set("Option2value", "x");
  rig.window.logVisible = true;  // the log option, not read, would hide it
  EXPECT_FALSE(rig.monitor.loadSettings());
  EXPECT_TRUE(rig.window.mailerEnabled.empty());
  EXPECT_TRUE(rig.window.logVisible);
  EXPECT_EQ(rig.window.size, (std::pair<int, int>{0, 0}));
}

TEST(Monitor, UnloadQueryWaitsForTheLampThenAsks) {
  Started rig;
  rig.pump.onDoEvents = [&] {
    if (rig.monitor.timers().running(TimerId::lampOff)) rig.monitor.onTimer(TimerId::lampOff);
  };
  int lampTimerAtQuestion = -1;
  rig.dialogs.whileOpen = [&](const std::string&) {
    lampTimerAtQuestion = rig.monitor.timers().enabled(TimerId::lampOff);
  };
  rig.window.shown = true;
  rig.dialogs.answers = {MsgAnswer::No};
  EXPECT_FALSE(rig.monitor.queryUnload());
  EXPECT_EQ(lampTimerAtQuestion, 0);  // the lamp timer had run out before the question
  EXPECT_FALSE(rig.window.shown);
  EXPECT_EQ(rig.registrar.registered.size(), 8u);
  EXPECT_TRUE(rig.registrar.hooked);
  EXPECT_TRUE(rig.store.writes.empty());

  rig.dialogs.answers = {MsgAnswer::Yes};
  EXPECT_TRUE(rig.monitor.queryUnload());
  EXPECT_EQ(rig.dialogs.texts(), (Lines{"終了しますか？", "終了しますか？"}));
  EXPECT_TRUE(rig.registrar.registered.empty());
  EXPECT_TRUE(rig.registrar.atoms.empty());
  EXPECT_FALSE(rig.registrar.hooked);
  // The popup's layout is kept.
  for (const char16_t* key : {u"grdWidth0", u"grdWidth5", u"frmWidth", u"frmHeight"})
    EXPECT_EQ(std::count(rig.store.writes.begin(), rig.store.writes.end(), Text(key)), 1) << toUtf8(key);
}

TEST(Monitor, CloseAndEndOfSessionDecisions) {
  // No lamp timer ticks here: the wait for it must end all the same.
  enum Ask { CloseOurs, CloseOther, EndSession, Nothing };
  const struct {
    const char* name;
    Ask ask;
    MsgAnswer answer;  // Cancel: the monitor quits without asking
    Ask whileAsking;   // asked again while the question is open
    bool result, innerResult;
    bool ending;  // sessionEnding(false) afterwards
  } cases[] = {
      {"close from elsewhere", CloseOther, MsgAnswer::Yes, Nothing, false, false, false},
      {"close, yes", CloseOurs, MsgAnswer::Yes, Nothing, true, false, false},
      {"close, no", CloseOurs, MsgAnswer::No, Nothing, false, false, false},
      {"close without asking", CloseOurs, MsgAnswer::Cancel, Nothing, true, false, false},
      {"end of session, yes", EndSession, MsgAnswer::Yes, Nothing, true, false, true},
      {"end of session, no", EndSession, MsgAnswer::No, Nothing, false, false, false},
      {"end of session without asking", EndSession, MsgAnswer::Cancel, Nothing, true, false, true},
      {"close again while asking", CloseOurs, MsgAnswer::Yes, CloseOurs, true, false, false},
      {"end of session while asking at close", CloseOurs, MsgAnswer::No, EndSession, false, true, false},
      {"end of session asked twice", EndSession, MsgAnswer::Yes, EndSession, true, true, true},
  };
  for (auto& c : cases) {
    MonitorRig rig;
    rig.addAccount(1, "A");
    rig.store.set("Option7value", c.answer == MsgAnswer::Cancel ? "1" : "0");
    ASSERT_TRUE(rig.start());
    auto ask = [&](Ask a) {
      return a == EndSession ? rig.monitor.endSessionQueried() : rig.monitor.closeRequested(a == CloseOurs);
    };
    bool inner = false;
    rig.dialogs.whileOpen = [&](const std::string&) {
      if (c.whileAsking != Nothing) inner = ask(c.whileAsking);
    };
    rig.dialogs.answers = {c.answer};
    rig.window.shown = true;
    const bool asked = c.ask != CloseOther && c.answer != MsgAnswer::Cancel;
    EXPECT_EQ(ask(c.ask), c.result) << c.name;
    EXPECT_EQ(inner, c.innerResult) << c.name;
    EXPECT_EQ(rig.monitor.sessionEnding(false), c.ending) << c.name;
    EXPECT_TRUE(rig.monitor.sessionEnding(true)) << c.name;
    EXPECT_EQ(rig.dialogs.texts(), asked ? Lines{"終了しますか？"} : Lines{}) << c.name;
    EXPECT_EQ(rig.registrar.registered.empty(), c.result) << c.name;
    EXPECT_EQ(rig.window.shown, c.result || c.ask == CloseOther) << c.name;  // hidden when the answer is no
  }
}

TEST(Monitor, HotkeyCommands) {
  const struct {
    HotkeyCommand command;
    bool stopsLamp;
    bool (*done)(MonitorRig&);
  } cases[] = {
      {HotkeyCommand::Settings, true, [](MonitorRig& r) { return r.processes.started == Lines{kSettings}; }},
      {HotkeyCommand::Check, true, [](MonitorRig& r) { return r.sock.sent.size() == 4; }},
      {HotkeyCommand::Popup, true, [](MonitorRig& r) { return r.window.shows == 1; }},
      // A mailer leaves the popup alone; the lamp goes out shortly after.
      {HotkeyCommand::Mailer1, false,
       [](MonitorRig& r) {
         return r.processes.started == Lines{"\"C:\\m1.exe\""} && r.window.shown &&
                r.monitor.timers().enabled(TimerId::lampOff);
       }},
      {HotkeyCommand::Mailer2, false,
       [](MonitorRig& r) { return r.processes.started == Lines{"\"C:\\m2.exe\""} && r.window.shown; }},
      {HotkeyCommand::Quit, true, [](MonitorRig& r) { return r.window.unloads == 1; }},
      {HotkeyCommand::Connect, false, [](MonitorRig& r) { return r.ras.count("dial Line") == 1; }},
      {HotkeyCommand::Disconnect, false, [](MonitorRig& r) { return r.ras.calls.back() == "hangup 7"; }},
  };
  for (auto& c : cases) {
    MonitorRig rig;
    rig.addAccount(1, "A");
    rig.store.set("Mailerdir1", "C:\\m1.exe");
    rig.store.set("Mailerdir2", "C:\\m2.exe");
    rig.processes.files = {"C:\\m1.exe", "C:\\m2.exe"};
    rig.store.set("Defdialno", "0");
    rig.ras.phoneBook = {u"Line"};
    rig.ras.active = {7, 8};  // two lines: the connect key dials all the same
    ASSERT_TRUE(rig.start());
    EXPECT_FALSE(rig.monitor.onHotkey(1));  // no function has that id
    rig.monitor.timers().enable(TimerId::lampBlink);
    rig.window.shown = true;
    const int index = static_cast<int>(c.command);
    ASSERT_TRUE(rig.monitor.onHotkey(static_cast<std::uintptr_t>(rig.monitor.hotkeys().hotkeyId(index))));
    EXPECT_TRUE(c.done(rig)) << index;
    EXPECT_EQ(rig.monitor.timers().enabled(TimerId::lampBlink), !c.stopsLamp) << index;
  }
}

TEST(Monitor, MailerButtonStopsTheLampAndHidesThePopupFirst) {
  MonitorRig rig;
  rig.processes.files = {"C:\\m2.exe"};
  rig.state().options.mailerPaths[1] = u"C:\\m2.exe";
  rig.monitor.timers().enable(TimerId::lampBlink);
  rig.window.shown = true;
  bool shown = true, blinking = true;
  rig.processes.onStart = [&](const Text&) {
    shown = rig.window.shown;
    blinking = rig.monitor.timers().enabled(TimerId::lampBlink);
  };
  rig.monitor.startMailerFromPopup(2);
  EXPECT_EQ(rig.processes.started, Lines{"\"C:\\m2.exe\""});
  EXPECT_FALSE(shown);
  EXPECT_FALSE(blinking);
  EXPECT_EQ(rig.lamp.calls, Lines{"out"});
}

TEST(Monitor, QuitWhileTheSettingsProgramRunsEndsTheWaitAndDoesNothingMore) {
  // "終了" through its hotkey is served while the settings program runs;
  // once the monitor is unloaded, neither the first-run loop nor the
  // settings command may go on (no new question, no keys registered on a
  // window that is gone).
  MonitorRig rig;
  int starts = 0;
  auto quitAfterPumps = [&](int n) {
    rig.pump.onDoEvents = [&rig, n] { rig.pump.quit = rig.pump.pumps >= n; };
  };
  rig.processes.onStart = [&](const Text&) {
    // A wait that ignored the quit ends at the third start instead of hanging.
    if (++starts >= 3) rig.store.set("accountno", "1");
    rig.processes.pollsRunning = 50;
  };
  quitAfterPumps(3);
  EXPECT_FALSE(rig.start());
  EXPECT_EQ(rig.dialogs.texts(), Lines{kConfigureFirst});
  EXPECT_EQ(starts, 1);
  EXPECT_EQ(rig.processes.closes, 1);
  EXPECT_EQ(hotkeyPasses(rig.registrar), 1);
  EXPECT_LT(rig.pump.pumps, 10);

  rig.pump.quit = false;
  rig.pump.onDoEvents = nullptr;
  rig.addAccount(1, "A");
  ASSERT_TRUE(rig.monitor.load());
  rig.pump.pumps = 0;
  quitAfterPumps(2);
  rig.addAccount(2, "B");
  rig.monitor.runSettingsProgram();
  EXPECT_EQ(hotkeyPasses(rig.registrar), 2);
  EXPECT_EQ(rig.state().options.accountCount, 1);  // nothing reloaded
  EXPECT_EQ(rig.processes.closes, 2);
}

TEST(Monitor, SettingsProgramReloadsAndKeepsAnUnchangedList) {
  Started rig;
  rig.checkAll();
  ASSERT_EQ(rig.monitor.checker().mailTotal(), 1);
  rig.monitor.runSettingsProgram();  // nothing changed
  EXPECT_EQ(hotkeyPasses(rig.registrar), 2);
  EXPECT_EQ(rig.registrar.registered.size(), 8u);
  EXPECT_EQ(toUtf8(rig.item(1, 1).subject), "1");
  EXPECT_EQ(rig.window.rows, 2);
  EXPECT_EQ(rig.monitor.checker().mailTotal(), 1);

  // A settings program that cannot start is no error: reload all the same.
  rig.processes.startFails = true;
  rig.store.set("Checktimerval", "4");
  rig.monitor.runSettingsProgram();
  EXPECT_TRUE(rig.dialogs.boxes.empty());
  EXPECT_EQ(rig.state().options.checkIntervalMinutes, 4);
  EXPECT_EQ(hotkeyPasses(rig.registrar), 3);
}

// Accounts a, b, c listed, b's message marked; then the account list
// changes under the popup. No row, mark or count may point at another
// account afterwards, and nothing is deleted but what was marked anew.
TEST(Monitor, ChangedAccountListForgetsWhatItNoLongerDescribes) {
  const struct {
    const char* name;
    void (*change)(MonitorRig&);
  } cases[] = {
      {"b deleted, c moved down",
       [](MonitorRig& r) {
         for (const char* key : {"Aname", "Hname", "Portno", "Uname", "Passw", "Check"})
           r.store.values[fromUtf8(std::string(key) + "2")] = r.store.values[fromUtf8(std::string(key) + "3")];
         r.store.set("accountno", "2");
       }},
      {"b's user changed", [](MonitorRig& r) { r.store.set("Uname2", "someone"); }},
      {"b's server changed",
       [](MonitorRig& r) {
         r.store.set("Portno2", "1005");
         r.boxes[1005] = r.boxes[1002];
         r.boxes[1005].messages = {message("e@x", "se")};
       }},
      {"d added", [](MonitorRig& r) { r.addAccount(4, "d").messages = {message("d@x", "sd")}; }},
  };
  for (auto& c : cases) {
    MonitorRig rig;
    rig.addAccount(1, "a").messages = {message("a@x", "sa")};
    rig.addAccount(2, "b").messages = {message("b@x", "sb")};
    rig.addAccount(3, "c").messages = {message("c@x", "sc")};
    rig.store.set("Option6value", "1");
    ASSERT_TRUE(rig.start());
    rig.checkAll();
    rig.monitor.clickRow(2);  // b's message
    ASSERT_TRUE(rig.item(2, 1).marked) << c.name;
    rig.processes.onStart = [&](const Text&) { c.change(rig); };
    rig.monitor.runSettingsProgram();
    EXPECT_EQ(rig.monitor.popup().grid.rowCount(), 1) << c.name;  // the header only
    EXPECT_FALSE(rig.window.actions) << c.name;
    for (int a = 1; a <= rig.state().accounts.count(); ++a)
      for (int m = 1; m <= rig.state().accounts.find(a)->mail.size(); ++m)
        EXPECT_FALSE(rig.item(a, m).marked) << c.name;
    // Pressing Delete now deletes nothing anywhere.
    rig.dialogs.answers = {MsgAnswer::Yes};
    const auto before = rig.sock.sent.size();
    rig.monitor.deleteMarked();
    rig.settle();
    for (const auto& cmd : rig.sentSince(before)) EXPECT_NE(cmd.rfind("DELE", 0), 0u) << c.name;
    // The next check lists every mailbox its account now stands for, even
    // where only changes are reported.
    rig.checkAll();
    EXPECT_EQ(rig.monitor.popup().grid.rowCount(), rig.state().options.accountCount + 1) << c.name;
    for (int row = 1; row < rig.monitor.popup().grid.rowCount(); ++row)
      EXPECT_FALSE(rig.monitor.popup().grid.cell(row, 4).empty()) << c.name << " row " << row;
  }
}

TEST(Monitor, OnlyAccountsThatExistSound) {
  MonitorRig rig;
  rig.addAccount(1, "silent").messages = {message("a", "1")};
  rig.addAccount(2, "b");
  rig.addAccount(3, "own").messages = {message("c", "3")};
  rig.store.set("Option2value", "1");
  rig.store.set("Option6value", "1");
  rig.store.set("Wavmode1", "2");
  rig.store.set("Wavmode3", "1");
  rig.store.set("Wavdir2_3", "C:\\own.wav");
  ASSERT_TRUE(rig.start());
  rig.checkAll();
  EXPECT_EQ(rig.sound.played, Lines{"sync C:\\own.wav"});
  // Account 3 is deleted; only the silent account has new mail then.
  rig.processes.onStart = [&](const Text&) { rig.store.set("accountno", "2"); };
  rig.monitor.runSettingsProgram();
  rig.sound.played.clear();
  rig.boxes[1001].messages.push_back(message("d", "4"));
  rig.checkAll();
  EXPECT_TRUE(rig.state().accounts.find(1)->newMail);
  EXPECT_EQ(rig.state().accounts.count(), 2);
  EXPECT_TRUE(rig.sound.played.empty());
}

}  // namespace
}  // namespace tarvi::fakes
