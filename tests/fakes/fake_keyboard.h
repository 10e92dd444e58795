#pragma once

#include <string>
#include <vector>

#include "monitor/desktop/alerts.h"

namespace tarvi::fakes {

// A keyboard whose Scroll Lock toggles on a synthesised press, as on
// Windows NT, or is whatever the state table last said, as on Windows 9x.
class FakeKeyboard : public Keyboard {
 public:
  int platformId = 2;
  bool toggled = false;
  bool held = false;  // the user holds the key down
  std::vector<std::string> events;

  int platform() override { return platformId; }
  std::int16_t keyState(int vk) override {
    if (vk != kScroll) return 0;
    return static_cast<std::int16_t>((held ? 0x8000 : 0) | (toggled ? 1 : 0));
  }
  bool getState(StateTable& t) override {
    t.fill(0);
    t[kScroll] = static_cast<std::uint8_t>((held ? 0x80 : 0) | (toggled ? 1 : 0));
    return true;
  }
  void setState(const StateTable& t) override {
    toggled = (t[kScroll] & 1) != 0;
    events.push_back(std::string("set ") + (toggled ? "1" : "0"));
  }
  void keyEvent(std::uint8_t vk, std::uint8_t, std::uint32_t flags) override {
    const bool up = (flags & kKeyUp) != 0;
    events.push_back(std::string(up ? "up " : "down ") + std::to_string(vk));
    if (vk == kScroll && !up) toggled = !toggled;
  }
};

class FakeSound : public SoundPlayer {
 public:
  std::vector<std::string> played;
  void play(const Text& path, bool async) override {
    played.push_back((async ? "async " : "sync ") + toUtf8(path));
  }
  void beep() override { played.push_back("beep"); }
};

}  // namespace tarvi::fakes
