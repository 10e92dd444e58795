#include "monitor/desktop/launcher.h"

#include <gtest/gtest.h>

#include "tests/fakes/fake_desktop.h"
#include "tests/fakes/fake_pump.h"

namespace tarvi {
namespace {

using Texts = std::vector<std::string>;

struct LauncherTest : ::testing::Test {
  fakes::FakeProcesses processes;
  fakes::FakePump pump;
  Launcher launcher{processes, pump};
};

TEST_F(LauncherTest, MailerCommandRules) {
  const struct {
    const char16_t* stored;
    const char* file;     // the ordinary file that exists, if any
    const char* started;  // nullptr: nothing starts
  } cases[] = {
      {u"C:\\mail\\mailer.exe", "C:\\mail\\mailer.exe", "\"C:\\mail\\mailer.exe\""},
      {u"C:\\mail\\mailer.exe", "", nullptr},
      {u"\"C:\\Program Files\\m.exe\" /check", "C:\\Program Files\\m.exe",
       "\"C:\\Program Files\\m.exe\" /check"},
      {u"\"C:\\Program Files\\m.exe\" /check", "", nullptr},
      {u"\"C:\\Program Files\\m.exe /check", "C:\\Program Files\\m.exe", nullptr},
      {u"C:\\mail\\mailer.exe /x", "C:\\mail\\mailer.exe", nullptr},  // no file has that name
      {u"\"\"", "", nullptr},
      {u"", "", nullptr},
  };
  for (const auto& c : cases) {
    fakes::FakeProcesses p;
    if (*c.file) p.files = {c.file};
    Launcher l{p, pump};
    l.startMailer(c.stored);
    EXPECT_EQ(p.started, c.started ? Texts{c.started} : Texts{}) << toUtf8(c.stored);
  }
  EXPECT_EQ(pump.pumps, 0);  // a mailer is not waited for
}

TEST_F(LauncherTest, BareMailerPathIsNamedAsTheProgram) {
  processes.files = {"C:\\Program Files\\mail\\mailer.exe"};
  launcher.startMailer(u"C:\\Program Files\\mail\\mailer.exe");
  EXPECT_EQ(processes.started, Texts{"\"C:\\Program Files\\mail\\mailer.exe\""});
  EXPECT_EQ(processes.applications, Texts{"C:\\Program Files\\mail\\mailer.exe"});
}

TEST_F(LauncherTest, SettingsProgramIsWaitedForWhilePumping) {
  processes.pollsRunning = 3;
  EXPECT_TRUE(launcher.startAndWait(launcher.settingsProgram()));
  EXPECT_EQ(processes.started, Texts{"\"C:\\apps\\tarvicfg.exe\""});
  // Named as the program too, so that a path with spaces is not taken apart.
  EXPECT_EQ(processes.applications, Texts{"C:\\apps\\tarvicfg.exe"});
  EXPECT_EQ(pump.pumps, 4);
  EXPECT_EQ(pump.idles, 3);
  EXPECT_EQ(processes.closes, 1);
}

TEST_F(LauncherTest, ProgramThatCannotStartIsNotWaitedFor) {
  processes.startFails = true;
  EXPECT_FALSE(launcher.startAndWait(u"C:\\x.exe"));
  EXPECT_EQ(pump.pumps, 0);
}

TEST_F(LauncherTest, WaitEndsAtOnceWhenTheProcessCannotBeOpened) {
  processes.openFails = true;
  processes.pollsRunning = 1000;
  launcher.waitForProcess(5);
  EXPECT_EQ(pump.pumps, 1);
  EXPECT_EQ(processes.closes, 0);
}

TEST_F(LauncherTest, WaitEndsWhenTheMonitorIsUnloaded) {
  processes.pollsRunning = 1000;
  pump.onDoEvents = [this] { pump.quit = pump.pumps >= 3; };
  EXPECT_TRUE(launcher.startAndWait(launcher.settingsProgram()));
  EXPECT_EQ(pump.pumps, 3);
  EXPECT_EQ(processes.closes, 1);
}

}  // namespace
}  // namespace tarvi
