#include "monitor/desktop/alerts.h"

#include <gtest/gtest.h>

#include "tests/fakes/fake_desktop.h"
#include "tests/fakes/fake_timers.h"

namespace tarvi {
namespace {

using Events = std::vector<std::string>;
const std::string kDown = "down 145", kUp = "up 145";
constexpr int kWindows9x = 1;

TEST(ScrollLamp, OnWindowsNTPressesTheKeyOnlyToChangeTheLamp) {
  const struct {
    bool lit, held, toggle;
    Events events;
  } cases[] = {
      {false, false, true, {kDown, kUp}},
      {true, false, true, {kDown, kUp}},
      {true, false, false, {kDown, kUp}},
      {false, false, false, {}},  // out stays out, no key events at all
      // Holding the key down is no lit lamp: "out" must not switch it on.
      {false, true, false, {}},
  };
  for (const auto& c : cases) {
    fakes::FakeKeyboard kb;
    kb.toggled = c.lit;
    kb.held = c.held;
    ScrollLamp lamp(kb);
    c.toggle ? lamp.toggle() : lamp.putOut();
    EXPECT_EQ(kb.events, c.events) << c.lit << c.held << c.toggle;
    EXPECT_EQ(kb.toggled, c.toggle && !c.lit) << c.lit << c.held << c.toggle;
  }
}

TEST(ScrollLamp, OnWindows9xWritesTheStateTableAndElsewhereTouchesNothing) {
  fakes::FakeKeyboard kb;
  kb.platformId = kWindows9x;
  ScrollLamp lamp(kb);
  for (int i = 0; i < 3; ++i) lamp.toggle();
  lamp.putOut();
  lamp.putOut();  // already out
  kb.held = true;
  lamp.putOut();  // held is not lit here either
  EXPECT_EQ(kb.events, (Events{"set 1", "set 0", "set 1", "set 0"}));
  EXPECT_FALSE(lamp.litOn9x());

  fakes::FakeKeyboard other;
  other.platformId = 0;
  other.toggled = true;
  ScrollLamp otherLamp(other);
  otherLamp.toggle();
  otherLamp.putOut();
  EXPECT_TRUE(other.events.empty());
}

// The blinker's timers on a fake clock; the lamp records its calls.
struct BlinkTest : ::testing::Test {
  fakes::FakeTimerDriver driver;
  fakes::FakeLamp lamp;
  GeneralSettings opt;
  Timers timers{driver};
  LampBlinker blinker{timers, lamp, opt};

  void SetUp() override {
    blinker.initialize();
    driver.onTick = [this](TimerId id) {
      if (id == TimerId::lampBlink) blinker.onBlinkTick();
      if (id == TimerId::lampOff) blinker.onLampOffTick();
    };
  }
};

TEST_F(BlinkTest, FiveSecondsAreTwelveTicksThenTheLampGoesOutTwice) {
  for (int run = 0; run < 2; ++run) {  // the count starts afresh
    lamp.calls.clear();
    driver.ticks.clear();
    const std::uint64_t start = driver.now;
    blinker.start();
    driver.advance(10000);
    const auto blinks = driver.tickTimes(TimerId::lampBlink);
    ASSERT_EQ(blinks.size(), 12u);
    EXPECT_EQ(blinks.back(), start + 6000);
    // Out again 300 ms later, in case a tick was already queued.
    EXPECT_EQ(driver.tickTimes(TimerId::lampOff), std::vector<std::uint64_t>{start + 6300});
    EXPECT_FALSE(driver.running(TimerId::lampBlink));
    EXPECT_FALSE(driver.running(TimerId::lampOff));
    Events want(13, "toggle");
    want.insert(want.end(), {"out", "out"});
    EXPECT_EQ(lamp.calls, want);
    EXPECT_EQ(blinker.blinkTicks(), 0);
  }
}

TEST_F(BlinkTest, ZeroBlinksUntilStopped) {
  opt.blinkSeconds = 0;
  blinker.start();
  driver.advance(60000);
  EXPECT_EQ(lamp.calls, Events(121, "toggle"));
  blinker.stop();
  EXPECT_FALSE(driver.running(TimerId::lampBlink));
  driver.advance(1000);
  EXPECT_EQ(lamp.calls.size(), 123u);
  EXPECT_EQ(lamp.calls.back(), "out");
  EXPECT_FALSE(driver.running(TimerId::lampOff));
}

TEST_F(BlinkTest, NewBlinkRestartsTheCount) {
  blinker.start();
  driver.advance(4000);  // 8 ticks
  blinker.start();
  driver.advance(5900);
  EXPECT_TRUE(driver.running(TimerId::lampBlink));
  driver.advance(200);
  EXPECT_FALSE(driver.running(TimerId::lampBlink));
}

TEST(NewMailSounds, ChoicesPerAccount) {
  const struct {
    const char* name;
    std::vector<std::int16_t> modes;  // accounts 1..n: common 0, own 1, none 2
    std::vector<Text> files;
    std::vector<bool> news;
    Text common;
    Events played;
  } cases[] = {
      {"own file to its end, then the common sound", {1, 0}, {u"a.wav", u""}, {true, true},
       u"g.wav", {"sync a.wav", "async g.wav"}},
      {"common sound once for three accounts", {0, 0, 0}, {u"x", u"y", u"z"}, {true, true, true},
       u"g.wav", {"async g.wav"}},
      {"own sound without a file beeps", {1}, {u""}, {true}, u"g.wav", {"beep"}},
      {"common sound without a file beeps", {0}, {u""}, {true}, u"", {"beep"}},
      {"silent accounts", {2, 2}, {u"a", u""}, {true, true}, u"g.wav", {}},
      {"no new mail, no sound", {1, 0}, {u"a.wav", u""}, {false, false}, u"g.wav", {}},
      {"account sounds in number order", {1, 2, 1}, {u"1.wav", u"", u"3.wav"},
       {true, true, true}, u"g", {"sync 1.wav", "sync 3.wav"}},
  };
  for (bool on : {true, false})
    for (const auto& c : cases) {
      GeneralSettings opt;
      opt.soundOnNewMail = on;
      opt.soundFile = c.common;
      AccountTable table;
      table.resize(static_cast<int>(c.modes.size()));
      for (std::size_t i = 0; i < c.modes.size(); ++i) {
        AccountState& r = *table.find(static_cast<int>(i) + 1);
        r.soundMode = c.modes[i];
        r.soundFile = c.files[i];
        r.newMail = c.news[i];
      }
      fakes::FakeSound sound;
      playNewMailSounds(sound, opt, table);
      EXPECT_EQ(sound.played, on ? c.played : Events{}) << c.name << (on ? "" : ", switched off");
    }
}

}  // namespace
}  // namespace tarvi
