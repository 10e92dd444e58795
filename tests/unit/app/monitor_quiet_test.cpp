// New mail while the user must not be disturbed: no sound, the popup waits,
// the lamp and the icon still tell.
#include <gtest/gtest.h>

#include "tests/fakes/monitor_rig.h"

namespace tarvi::fakes {
namespace {

// One account with mail, checked; popup, sound and icon on.
struct QuietRig : MonitorRig {
  QuietRig(const char* quiet, bool busy) {
    if (quiet) store.set("Quiet", quiet);
    for (const char* k : {"Option1value", "Option2value", "Trayicon"}) store.set(k, "1");
    addAccount(1, "仕事").messages = {message("a", "1")};
    attention.busyNow = busy;
    EXPECT_TRUE(start());
    checkAll();
  }
};

TEST(MonitorQuiet, OnlyABusyUserWithTheOptionOnGetsNoPopupNorSound) {
  struct Case {
    const char* quiet;  // nullptr: absent
    bool busy, loud, balloonHeldInQuietTime, asked;
  };
  for (const Case c : {Case{nullptr, false, true, true, true}, Case{nullptr, true, false, true, true},
                       Case{"1", true, false, true, true}, Case{"0", true, true, false, false}}) {
    QuietRig rig(c.quiet, c.busy);
    const std::string name = std::string(c.quiet ? c.quiet : "absent") + (c.busy ? " busy" : "");
    EXPECT_EQ(rig.window.shown, c.loud) << name;
    EXPECT_EQ(!rig.sound.played.empty(), c.loud) << name;
    EXPECT_EQ(rig.tray.lastBalloonHeldInQuietTime, c.balloonHeldInQuietTime) << name;
    EXPECT_EQ(rig.attention.asked != 0, c.asked) << name;
    EXPECT_TRUE(!rig.lamp.calls.empty() && rig.tray.newMailPicture) << name;
  }
}

TEST(MonitorQuiet, HeldPopupShowsWhenTheUserIsFreeUnlessSeenBefore) {
  for (bool seenMeanwhile : {false, true}) {
    QuietRig rig(nullptr, true);
    if (seenMeanwhile) rig.monitor.closePopup();
    rig.attention.busyNow = false;
    rig.settle(3);
    EXPECT_EQ(rig.window.shown, !seenMeanwhile) << seenMeanwhile;
    EXPECT_FALSE(rig.timers.running(TimerId::quietWait)) << seenMeanwhile;
    EXPECT_TRUE(rig.sound.played.empty()) << seenMeanwhile;
  }
}

}  // namespace
}  // namespace tarvi::fakes
