#include "monitor/desktop/alerts.h"

#include <gtest/gtest.h>

#include "tests/fakes/fake_clock.h"
#include "tests/fakes/fake_keyboard.h"

namespace tarvi {
namespace {

using Events = std::vector<std::string>;
const std::string kDown = "down 145", kUp = "up 145";

struct LampTest : ::testing::Test {
  fakes::FakeClock clock;
  fakes::FakeKeyboard kb;
  ScrollLamp lamp{kb};
  GeneralSettings opt;
  Timers timers{clock};
  LampBlinker blinker{timers, lamp, opt};
  std::vector<std::pair<std::uint64_t, bool>> lampAt;  // lamp state after each tick

  void SetUp() override {
    blinker.initialize();
    clock.dispatch = [this](TimerId id) {
      if (id == TimerId::lighttimer) blinker.lighttimer_Timer();
      if (id == TimerId::Timer1) blinker.Timer1_Timer();
      lampAt.emplace_back(clock.now, kb.toggled);
    };
  }
};

TEST_F(LampTest, ScrollLampOnWindowsNT) {
  struct Case {
    bool toggled, held;
    int mode;
    Events events;
    bool after;
  } cases[] = {
      {false, false, 1, {kDown, kUp}, true},
      {true, false, 1, {kDown, kUp}, false},
      {true, false, 0, {kDown, kUp}, false},
      {false, false, 0, {}, false},  // off stays off, no key events at all
      // Holding the key down is no lit lamp: "off" must not switch it on.
      {false, true, 0, {}, false},
  };
  for (const auto& c : cases) {
    fakes::FakeKeyboard k;
    k.toggled = c.toggled;
    k.held = c.held;
    ScrollLamp l(k);
    l.scrollLamp(c.mode);
    EXPECT_EQ(k.events, c.events) << c.toggled << c.held << c.mode;
    EXPECT_EQ(k.toggled, c.after);
  }
}

TEST_F(LampTest, ScrollLampOnWindows9xWritesTheStateTable) {
  kb.platformId = 1;
  lamp.scrollLamp(1);
  lamp.scrollLamp(1);
  lamp.scrollLamp(1);
  EXPECT_EQ(kb.events, (Events{"set 1", "set 0", "set 1"}));
  lamp.scrollLamp(0);
  EXPECT_EQ(kb.events.back(), "set 0");
  EXPECT_EQ(lamp.lightFlg(), 0);
  kb.events.clear();
  lamp.scrollLamp(0);  // already off
  EXPECT_TRUE(kb.events.empty());
}

TEST_F(LampTest, OtherPlatformsTouchNothing) {
  kb.platformId = 0;
  kb.toggled = true;
  lamp.scrollLamp(1);
  lamp.scrollLamp(0);
  EXPECT_TRUE(kb.events.empty());
}

TEST_F(LampTest, FiveBlinkPairsEndOffAfterTwelveTicks) {
  for (bool litBefore : {false, true}) {
    SCOPED_TRACE(litBefore);
    kb.toggled = litBefore;
    lampAt.clear();
    clock.ticks = {};
    const std::uint64_t start = clock.now;
    blinker.Lightbrink();
    clock.advance(10000);
    EXPECT_EQ(clock.ticks[static_cast<int>(TimerId::lighttimer)], 12);
    EXPECT_EQ(clock.ticks[static_cast<int>(TimerId::Timer1)], 1);
    EXPECT_FALSE(clock.running(TimerId::lighttimer));
    EXPECT_FALSE(clock.running(TimerId::Timer1));
    ASSERT_EQ(lampAt.size(), 13u);
    EXPECT_EQ(lampAt[11].first - start, 6000u);  // the last blink tick
    EXPECT_EQ(lampAt[12].first - start, 6300u);  // Timer1, 300 ms later
    EXPECT_FALSE(lampAt[11].second);
    EXPECT_FALSE(kb.toggled);
    EXPECT_EQ(blinker.lightCount(), 0);
  }
}

TEST_F(LampTest, ZeroBlinksUntilStopped) {
  opt.Lighttimerval = 0;
  blinker.Lightbrink();
  const bool first = kb.toggled;
  clock.advance(60000);
  EXPECT_EQ(clock.ticks[static_cast<int>(TimerId::lighttimer)], 120);
  EXPECT_TRUE(clock.running(TimerId::lighttimer));
  EXPECT_TRUE(first);
  EXPECT_EQ(kb.toggled, first);  // an even number of toggles: lit now
  blinker.stop();
  EXPECT_FALSE(kb.toggled);
  EXPECT_FALSE(clock.running(TimerId::lighttimer));
  EXPECT_TRUE(clock.running(TimerId::Timer1));
  clock.advance(1000);
  EXPECT_FALSE(kb.toggled);
  EXPECT_FALSE(clock.running(TimerId::Timer1));
}

TEST_F(LampTest, NewBlinkRestartsTheCount) {
  blinker.Lightbrink();
  clock.advance(4000);  // 8 ticks
  blinker.Lightbrink();
  clock.advance(5900);
  EXPECT_TRUE(clock.running(TimerId::lighttimer));
  clock.advance(200);
  EXPECT_FALSE(clock.running(TimerId::lighttimer));
}

struct SoundCase {
  const char* name;
  std::vector<std::int16_t> modes;
  std::vector<Text> files;
  std::vector<bool> news;
  Text general;
  std::vector<std::string> played;
};

TEST(Sound, ChoicesPerAccount) {
  const SoundCase cases[] = {
      {"own file plays to its end, then the general sound", {0, 1, 0}, {u"", u"a.wav", u""},
       {false, true, true}, u"g.wav", {"sync a.wav", "async g.wav"}},
      {"general sound once for three accounts", {0, 0, 0, 0}, {u"", u"x", u"y", u"z"},
       {false, true, true, true}, u"g.wav", {"async g.wav"}},
      {"own sound without a file beeps", {0, 1}, {u"", u""}, {false, true}, u"g.wav", {"beep"}},
      {"no sound at all", {0, 2, 2}, {u"", u"a", u"b"}, {false, true, true}, u"", {}},
      {"general sound without a file beeps", {0, 0}, {u"", u""}, {false, true}, u"", {"beep"}},
      {"accounts without new mail stay silent", {0, 1, 0}, {u"", u"a.wav", u""},
       {false, false, false}, u"g.wav", {}},
      {"account sounds in number order", {0, 1, 2, 1}, {u"", u"1.wav", u"", u"3.wav"},
       {false, true, true, true}, u"g", {"sync 1.wav", "sync 3.wav"}},
  };
  for (const auto& c : cases) {
    GeneralSettings opt;
    opt.Option2value = 1;
    opt.Wavdir = c.general;
    fakes::FakeSound s;
    playNewMailSounds(s, {opt, c.modes, c.files, c.news});
    EXPECT_EQ(s.played, c.played) << c.name;
  }
}

TEST(Sound, SwitchedOffPlaysNothing) {
  GeneralSettings opt;
  opt.Option2value = 0;
  fakes::FakeSound s;
  playNewMailSounds(s, {opt, {0, 0}, {u"", u""}, {false, true}});
  EXPECT_TRUE(s.played.empty());
}

}  // namespace
}  // namespace tarvi
