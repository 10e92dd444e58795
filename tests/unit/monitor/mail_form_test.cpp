#include "monitor/desktop/mail_form.h"

#include <gtest/gtest.h>

#include <deque>
#include <set>

#include "tests/fakes/fake_store.h"

namespace tarvi {
namespace {

// Local fakes of the start-up's services: they record what the form does.
struct Timeline : TimerDriver, Pump, Dialogs, Processes, MainView, KeyboardLamp {
  std::vector<std::string> log;
  std::deque<MsgAnswer> answers;
  std::function<void()> onDoEvents;
  std::function<void()> onDialog;
  std::function<std::optional<std::uint32_t>(const Text&)> onStart;
  int stillActivePolls = 0;
  bool openFails = false;
  int pumps = 0;

  void apply(TimerId id, std::uint32_t ms, bool on) override {
    log.push_back("timer " + std::to_string(static_cast<int>(id)) + " " + std::to_string(ms) +
                  (on ? " on" : " off"));
  }
  void doEvents() override {
    ++pumps;
    if (onDoEvents) onDoEvents();
  }
  bool quitting() const override { return quit; }
  bool quit = false;
  MsgAnswer messageBox(const Text& text, const Text& title, MsgButtons, MsgIcon,
                       bool) override {
    log.push_back("box " + toUtf8(text) + " | " + toUtf8(title));
    if (onDialog) onDialog();
    if (answers.empty()) return MsgAnswer::Ok;
    auto a = answers.front();
    answers.pop_front();
    return a;
  }
  Text exeFolder() override { return u"C:\\apps"; }
  std::optional<std::uint32_t> start(const Text& cmd) override {
    log.push_back("start " + toUtf8(cmd));
    return onStart ? onStart(cmd) : std::optional<std::uint32_t>(42);
  }
  std::optional<std::uintptr_t> open(std::uint32_t) override {
    if (openFails) return std::nullopt;
    return 7;
  }
  std::optional<std::uint32_t> exitCode(std::uintptr_t) override {
    if (stillActivePolls > 0) {
      --stillActivePolls;
      return kStillActive;
    }
    return 0;
  }
  void close(std::uintptr_t) override { log.push_back("close handle"); }
  void hide() override { log.push_back("hide"); }
  void show() override { log.push_back("show"); }
  void setCaption(const Text& c) override { log.push_back("caption " + toUtf8(c)); }
  void removeCloseMenu() override { log.push_back("removeCloseMenu"); }
  void setMailerEnabled(int i, bool on) override {
    log.push_back("mailer " + std::to_string(i) + (on ? " on" : " off"));
  }
  void setLogVisible(bool on) override { log.push_back(std::string("log ") + (on ? "on" : "off")); }
  void applyLayout(const std::array<std::int16_t, 6>& w, std::int16_t fw, std::int16_t fh) override {
    log.push_back("layout " + std::to_string(w[0]) + " " + std::to_string(fw) + "x" +
                  std::to_string(fh));
  }
  void unload() override { log.push_back("unload"); }
  void scrollLamp(int on) override { log.push_back("lamp " + std::to_string(on)); }

  bool has(const std::string& entry) const {
    return std::find(log.begin(), log.end(), entry) != log.end();
  }
  int count(const std::string& prefix) const {
    int n = 0;
    for (auto& e : log) n += e.rfind(prefix, 0) == 0;
    return n;
  }
};

struct FormTest : ::testing::Test {
  fakes::FakeStore store;
  Timeline t;
  MailForm form{{store, t, t, t, t, t, t}};
  std::vector<std::string> hooks;

  void SetUp() override {
    form.setupHotkeys = [this](int on) { hooks.push_back("hotkeys " + std::to_string(on)); };
    form.resetMailTable = [this](int n) { hooks.push_back("mailtable " + std::to_string(n)); };
    form.initGrid = [this] { hooks.push_back("initGrid"); };
    form.saveLayout = [this] { hooks.push_back("saveLayout"); };
    form.checkmail = [this] { hooks.push_back("checkmail"); };
    form.clearNoNotify = [this] { hooks.push_back("clearNoNotify"); };
    ASSERT_TRUE(form.initialize(false, 15, 15));
  }
};

TEST_F(FormTest, SecondInstanceIsToldAndStops) {
  Timeline other;
  fakes::FakeStore s;
  MailForm second{{s, other, other, other, other, other, other}};
  EXPECT_FALSE(second.initialize(true, 15, 15));
  EXPECT_EQ(other.log, std::vector<std::string>{"box 既に起動しています | Tarviメールチェッカー"});
  EXPECT_TRUE(s.writes.empty());
}

TEST_F(FormTest, ConfiguredStartUpSequence) {
  store.set("accountno", "2");
  store.set("Option5value", "1");
  store.set("Mailerdir2", "C:\\mail.exe");
  store.set("Option8value", "1");
  store.set("Checktimerval", "3");
  ASSERT_TRUE(form.load());
  EXPECT_EQ(hooks, (std::vector<std::string>{"mailtable 2", "hotkeys 1", "initGrid",
                                             "clearNoNotify", "checkmail"}));
  t.log.erase(t.log.begin());  // the lamp timer's interval, set at initialisation
  EXPECT_EQ(t.log.front(), "hide");
  EXPECT_TRUE(t.has("removeCloseMenu"));
  EXPECT_TRUE(t.has("mailer 1 off"));
  EXPECT_TRUE(t.has("mailer 2 on"));
  EXPECT_TRUE(t.has("log on"));
  EXPECT_TRUE(t.has("caption Tarviメールチェッカー"));
  EXPECT_TRUE(t.has("lamp 0"));
  EXPECT_EQ(form.timers.interval(TimerId::checktimer), 60000u);
  EXPECT_EQ(t.count("box"), 0);
  EXPECT_EQ(form.Scolor2.size(), 3u);
}

TEST_F(FormTest, NoFirstCheckWithoutOption5) {
  store.set("accountno", "1");
  ASSERT_TRUE(form.load());
  EXPECT_EQ(hooks, (std::vector<std::string>{"mailtable 1", "hotkeys 1", "initGrid"}));
  EXPECT_EQ(form.timers.interval(TimerId::checktimer), 0u);
}

TEST_F(FormTest, UnconfiguredAsksAndRunsSettingsUntilAnAccountExists) {
  int runs = 0;
  t.onStart = [&](const Text&) -> std::optional<std::uint32_t> {
    if (++runs == 2) store.set("accountno", "1");  // stored at the second visit
    t.stillActivePolls = 3;
    return 99;
  };
  ASSERT_TRUE(form.load());
  EXPECT_EQ(runs, 2);
  EXPECT_EQ(t.count("box 最初に設定をしてください"), 2);
  EXPECT_EQ(t.count("start C:\\apps\\tarvicfg.exe"), 2);
  EXPECT_EQ(t.count("close handle"), 2);
  // Hotkeys are registered in every pass, before the account check.
  EXPECT_EQ(std::count(hooks.begin(), hooks.end(), "hotkeys 1"), 3);
  EXPECT_GE(t.pumps, 8);  // the wait pumps while the program runs
}

TEST_F(FormTest, SettingsProgramThatCannotStartEndsTheMonitor) {
  t.onStart = [](const Text&) { return std::nullopt; };
  EXPECT_FALSE(form.load());
  EXPECT_EQ(t.count("box 最初に設定をしてください"), 1);
  EXPECT_EQ(t.count("box 設定プログラム(tarvicfg.exe)を起動できませんでした"), 1);
  EXPECT_EQ(hooks.back(), "hotkeys 0");
}

TEST_F(FormTest, WaitEndsAtOnceWhenTheProcessCannotBeOpened) {
  t.openFails = true;
  t.stillActivePolls = 1000;
  form.waitProcess(5);
  EXPECT_EQ(t.pumps, 1);
  EXPECT_FALSE(t.has("close handle"));
}

TEST_F(FormTest, LoadoptionStopsAtTheFirstValueThatDoesNotConvert) {
  store.set("accountno", "1");
  store.set("Option1value", "1");
  store.set("Option2value", "x");  // stops here
  store.set("Option3value", "0");
  store.set("Hotkeynum0", "0");
  EXPECT_FALSE(form.loadoption());
  EXPECT_EQ(form.opt.Option1value, 1);
  EXPECT_EQ(form.opt.Option2value, 0);
  EXPECT_EQ(form.opt.Option3value, 1);  // keeps its previous value
  EXPECT_EQ(form.opt.Hotkeynum[0], 113);
  EXPECT_FALSE(t.has("log off"));  // nothing after the key was applied

  const char* bad[] = {"", "70000", "-40000", "1e3", "99999999999999999999999"};
  for (const char* v : bad) {
    store.set("Option2value", "1");
    store.set("frmHeight", v);
    form.opt.frmHeight = 1234;
    EXPECT_FALSE(form.loadoption()) << v;
    EXPECT_EQ(form.opt.frmHeight, 1234) << v;
    EXPECT_EQ(form.opt.Hotkeynum[0], 0) << v;  // keys before it were read
  }
}

TEST_F(FormTest, AccountTablesResizeKeepingEntries) {
  std::vector<int> seen;
  form.onAccountCountRead([&](int n) { seen.push_back(n); });
  store.set("accountno", "2");
  store.set("Scolor12", "255");
  form.loadoption();
  form.loadadata(2);
  EXPECT_EQ(form.Scolor1[2], 255);
  store.set("accountno", "4");
  form.loadoption();
  EXPECT_EQ(form.Scolor1.size(), 5u);
  EXPECT_EQ(form.Scolor1[2], 255);
  EXPECT_EQ(form.Scolor2[4], kDefaultBackColor);
  store.set("accountno", "0");  // 0: the tables stay as they are
  form.loadoption();
  EXPECT_EQ(form.Scolor1.size(), 5u);
  EXPECT_EQ(seen, (std::vector<int>{2, 4}));
}

TEST_F(FormTest, LoadadataKeepsFieldsWhoseValueDoesNotConvert) {
  store.set("Aname1", "会社");
  store.set("Hname1", "pop.example.jp");
  store.set("Portno1", "995");
  store.set("Passw1", "97 98 99 ");
  store.set("Wavmode1", "2");
  form.loadadata(1);
  EXPECT_EQ(form.cur.Passw, u"abc");
  EXPECT_EQ(form.cur.Portno, 995);
  EXPECT_EQ(form.Wavmode[1], 2);
  store.set("Portno1", "port");
  store.set("Wavmode1", "99999");
  store.set("Check1", "0");
  store.set("Passw1", "");
  form.loadadata(1);
  EXPECT_EQ(form.cur.Portno, 995);
  EXPECT_EQ(form.Wavmode[1], 2);
  EXPECT_EQ(form.cur.Check, 0);
  EXPECT_EQ(form.cur.Passw, u"");
  form.loadadata(9);  // beyond accountno: the tables grow instead of overflowing
  EXPECT_EQ(form.Scolor1.size(), 10u);
  form.loadadata(0);
  form.loadadata(-3);
}

TEST_F(FormTest, UnloadQueryWaitsForLampThenAsks) {
  store.set("accountno", "1");
  form.load();
  int ticksBeforeQuestion = -1;
  t.onDoEvents = [&] {
    if (form.timers.running(TimerId::Timer1)) form.onTimer(TimerId::Timer1);
  };
  t.onDialog = [&] { ticksBeforeQuestion = form.timers.enabled(TimerId::Timer1) ? 1 : 0; };
  t.answers = {MsgAnswer::No};
  EXPECT_FALSE(form.queryUnload());
  EXPECT_EQ(ticksBeforeQuestion, 0);  // the lamp timer had run out before the question
  EXPECT_EQ(t.log.back(), "hide");
  EXPECT_EQ(std::count(hooks.begin(), hooks.end(), "hotkeys 0"), 0);

  t.answers = {MsgAnswer::Yes};
  EXPECT_TRUE(form.queryUnload());
  EXPECT_EQ(hooks.back(), "saveLayout");
  EXPECT_EQ(hooks[hooks.size() - 2], "hotkeys 0");
}

TEST_F(FormTest, Option7EndsWithoutAskingAndAStuckLampTimerCannotHang) {
  store.set("accountno", "1");
  store.set("Option7value", "1");
  form.load();
  // No tick ever arrives: the wait still ends.
  EXPECT_TRUE(form.queryUnload());
  EXPECT_EQ(t.count("box"), 0);
}

TEST_F(FormTest, Commands) {
  form.mnu_pop();
  EXPECT_EQ(t.log.back(), "show");
  EXPECT_TRUE(form.timers.enabled(TimerId::Timer1));
  EXPECT_FALSE(form.timers.enabled(TimerId::lighttimer));
  form.mnu_end();
  EXPECT_EQ(t.log.back(), "unload");
}

}  // namespace
}  // namespace tarvi

namespace tarvi {
namespace {

struct FileProcesses : Timeline {
  std::set<Text> files;
  bool isOrdinaryFile(const Text& p) override { return files.count(p) > 0; }
};

TEST(ExecMailapp, PathRules) {
  const struct {
    const char16_t* stored;
    const char16_t* file;  // the ordinary file that exists, if any
    const char* started;   // what is started, "" for nothing
  } cases[] = {
      {u"C:\\mail\\mailer.exe", u"C:\\mail\\mailer.exe", "start C:\\mail\\mailer.exe"},
      {u"C:\\mail\\mailer.exe", u"", ""},
      {u"\"C:\\Program Files\\m.exe\" /check", u"C:\\Program Files\\m.exe",
       "start \"C:\\Program Files\\m.exe\" /check"},
      {u"\"C:\\Program Files\\m.exe\" /check", u"", ""},
      {u"\"C:\\Program Files\\m.exe /check", u"C:\\Program Files\\m.exe", ""},
      {u"C:\\mail\\mailer.exe /x", u"C:\\mail\\mailer.exe", ""},  // no file has that name
      {u"\"\"", u"", ""},
      {u"", u"", ""},
  };
  for (const auto& c : cases) {
    fakes::FakeStore store;
    FileProcesses t;
    if (*c.file) t.files.insert(c.file);
    MailForm form{{store, t, t, t, t, t, t}};
    form.opt.Mailerdir[1] = c.stored;
    form.ExecMailapp(1);
    EXPECT_EQ(t.count("start"), *c.started ? 1 : 0) << toUtf8(c.stored);
    if (*c.started) {
      EXPECT_TRUE(t.has(c.started)) << toUtf8(c.stored);
    }
    EXPECT_TRUE(form.timers.enabled(TimerId::Timer1));
    EXPECT_FALSE(t.has("hide"));  // the hotkey path leaves the popup alone
  }
}

TEST(ExecMailapp, ButtonStopsLampAndHidesPopupFirst) {
  fakes::FakeStore store;
  FileProcesses t;
  t.files.insert(u"C:\\m2.exe");
  MailForm form{{store, t, t, t, t, t, t}};
  form.opt.Mailerdir[2] = u"C:\\m2.exe";
  form.timers.enable(TimerId::lighttimer);
  t.log.clear();
  form.MailBt_Click(2);
  auto hide = std::find(t.log.begin(), t.log.end(), "hide");
  auto start = std::find(t.log.begin(), t.log.end(), "start C:\\m2.exe");
  auto lamp = std::find(t.log.begin(), t.log.end(), "lamp 0");
  ASSERT_NE(start, t.log.end());
  EXPECT_LT(lamp, hide);
  EXPECT_LT(hide, start);
  EXPECT_FALSE(form.timers.enabled(TimerId::lighttimer));
}

TEST_F(FormTest, QuitWhileTheSettingsProgramRunsEndsTheWaitAndDoesNothingMore) {
  // "終了" through its hotkey is served while the settings program runs;
  // once the monitor is unloaded, neither the first-run loop nor the
  // settings command may go on (no new question, no keys registered on a
  // window that is gone).
  int starts = 0;
  auto quitAfterPumps = [&](int n) {
    t.onDoEvents = [this, n] {
      if (t.pumps >= n) t.quit = true;
    };
    // The program runs for 50 polls; the third start stores an account, so
    // that a wait that ignored the quit ends the test instead of hanging it.
    t.onStart = [&](const Text&) -> std::optional<std::uint32_t> {
      if (++starts >= 3) store.set("accountno", "1");
      t.stillActivePolls = 50;
      return 42;
    };
  };
  quitAfterPumps(3);
  EXPECT_FALSE(form.load());
  EXPECT_EQ(t.count("box 最初に設定をしてください"), 1);
  EXPECT_EQ(t.count("start "), 1);
  EXPECT_EQ(t.count("close handle"), 1);
  EXPECT_EQ(std::count(hooks.begin(), hooks.end(), "hotkeys 1"), 1);
  EXPECT_LT(t.pumps, 10);

  t.quit = false;
  t.pumps = 0;
  t.onDoEvents = nullptr;
  store.set("accountno", "1");
  ASSERT_TRUE(form.load());
  hooks.clear();
  quitAfterPumps(2);
  store.set("accountno", "2");
  form.OpenOption();
  EXPECT_TRUE(hooks.empty());
  EXPECT_EQ(form.opt.accountno, 1);  // nothing reloaded
  EXPECT_EQ(t.count("close handle"), 2);
}

TEST_F(FormTest, OpenOptionRebuildsOnlyWhenTheAccountCountChanged) {
  store.set("accountno", "2");
  form.load();
  hooks.clear();
  int totals = 0;
  form.resetMailTotal = [&] { ++totals; };
  form.OpenOption();  // same count
  EXPECT_EQ(hooks, (std::vector<std::string>{"hotkeys 0", "hotkeys 1"}));
  EXPECT_EQ(totals, 0);
  hooks.clear();
  t.onStart = [&](const Text&) -> std::optional<std::uint32_t> {
    store.set("accountno", "3");
    return 5;
  };
  form.OpenOption();
  EXPECT_EQ(hooks, (std::vector<std::string>{"mailtable 3", "initGrid", "hotkeys 0", "hotkeys 1"}));
  EXPECT_EQ(totals, 1);
  // A settings program that cannot start is no error: reload all the same.
  hooks.clear();
  t.onStart = [](const Text&) { return std::nullopt; };
  store.set("Checktimerval", "4");
  const int boxes = t.count("box");
  form.OpenOption();
  EXPECT_EQ(t.count("box"), boxes);
  EXPECT_EQ(form.opt.Checktimerval, 4);
  EXPECT_EQ(hooks, (std::vector<std::string>{"hotkeys 0", "hotkeys 1"}));
}

}  // namespace
}  // namespace tarvi
