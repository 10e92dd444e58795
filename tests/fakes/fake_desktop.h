#pragma once

#include <string>
#include <vector>

#include "monitor/desktop/services.h"

namespace tarvi::fakes {

// The main window, the processes and the lamp, recording what they are told.
class FakeMainView : public MainView {
 public:
  void hide() override { shown = false; }
  void show() override {
    shown = true;
    ++shows;
  }
  void setCaption(const Text& c) override { captions.push_back(toUtf8(c)); }
  void removeCloseMenu() override {}
  void setMailerEnabled(int, bool) override {}
  void setLogVisible(bool) override {}
  void applyLayout(const std::array<std::int16_t, 6>&, std::int16_t, std::int16_t) override {}
  void unload() override { ++unloads; }
  std::string caption() const { return captions.empty() ? std::string() : captions.back(); }

  std::vector<std::string> captions;
  bool shown = false;
  int shows = 0;
  int unloads = 0;
};

class FakeProcesses : public Processes {
 public:
  Text exeFolder() override { return u"C:\\tarvi"; }
  std::optional<std::uint32_t> start(const Text&) override { return std::nullopt; }
  std::optional<std::uintptr_t> open(std::uint32_t) override { return std::nullopt; }
  std::optional<std::uint32_t> exitCode(std::uintptr_t) override { return 0; }
  void close(std::uintptr_t) override {}
};

class FakeLamp : public KeyboardLamp {
 public:
  void scrollLamp(int on) override { states.push_back(on); }
  std::vector<int> states;
};

}  // namespace tarvi::fakes
