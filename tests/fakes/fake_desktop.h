// Fakes of the monitor's desktop services: the main window and popup, the
// viewer, processes, lamp and keyboard, sound, dial-up and hotkeys. Each
// records what it is told.
#pragma once

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "monitor/popup/popup_model.h"
#include "monitor/popup/viewer_model.h"
#include "monitor/services/dialup_service.h"
#include "monitor/services/hotkey_registrar.h"
#include "monitor/services/services.h"
#include "monitor/services/tray_icon.h"
#include "monitor/services/user_attention.h"

namespace tarvi::fakes {

// The main window, which is also the popup.
class FakeWindow : public MainView, public PopupView {
 public:
  // MainView
  void hide() override { shown = false; }
  void show() override {
    shown = true;
    ++shows;
  }
  void setCaption(const Text& c) override { captions.push_back(toUtf8(c)); }
  Text caption() override { return fromUtf8(lastCaption()); }
  void removeCloseMenu() override { closeMenuRemoved = true; }
  void setMailerEnabled(int mailer, bool on) override { mailerEnabled[mailer] = on; }
  void setLogVisible(bool on) override { logVisible = on; }
  void applyLayout(const std::array<std::int16_t, 6>& w, std::int16_t width, std::int16_t height) override {
    layout = w;
    size = {width, height};
  }
  void setBusy(bool on) override { busy = on; }
  void unload() override { ++unloads; }

  // PopupView
  void setGridRedraw(bool) override {}
  void rowsChanged(int count) override { rows = count; }
  void setColumnWidthsPx(const std::array<int, PopupGrid::kColumns>& px) override { columnsPx = px; }
  std::array<int, PopupGrid::kColumns> columnWidthsPx() override { return columnsPx; }
  int gridHeightPx() override { return gridHeight; }
  int rowHeightPx() override { return rowHeight; }
  int dpi() override { return dpiValue; }
  std::pair<int, int> windowSizePx() override { return windowPx; }
  std::pair<int, int> layoutSizePx() override { return windowPx; }
  void setGridTooltip(const Text& tip) override { tooltip = toUtf8(tip); }
  void setActionsEnabled(bool on) override { actions = on; }
  bool actionsEnabled() override { return actions; }
  void setListEnabled(bool on) override { listEnabled = on; }
  void placeControls(const popup_layout::Resized& r) override { placed = r; }
  popup_layout::Rect gridRectPx() override { return {0, 20, 572, 241}; }
  popup_layout::Rect okRectPx() override { return {8, 264, 556, 17}; }

  std::string lastCaption() const { return captions.empty() ? std::string() : captions.back(); }

  std::vector<std::string> captions;
  bool shown = false, closeMenuRemoved = false, logVisible = false, busy = false;
  bool actions = false, listEnabled = true;
  int shows = 0, unloads = 0, rows = 1;
  std::map<int, bool> mailerEnabled;
  std::array<std::int16_t, 6> layout{};
  std::pair<int, int> size{};
  std::array<int, PopupGrid::kColumns> columnsPx{};
  int gridHeight = 241, rowHeight = 16, dpiValue = 96;
  std::pair<int, int> windowPx{582, 314};
  std::string tooltip;
  popup_layout::Resized placed;
};

class FakeViewer : public ViewerView {
 public:
  void showText(const Text& t) override { shown.push_back(toUtf8(t)); }
  std::vector<std::string> shown;
};

// Programs start (or not) as told; each started process runs for
// `pollsRunning` queries of its exit code.
class FakeProcesses : public Processes {
 public:
  Text exeFolder() override { return u"C:\\apps"; }
  std::optional<std::uint32_t> start(const Text& cmd, const Text& app) override {
    started.push_back(toUtf8(cmd));
    applications.push_back(toUtf8(app));
    if (onStart) onStart(cmd);
    if (startFails) return std::nullopt;
    return nextPid++;
  }
  std::optional<std::uintptr_t> open(std::uint32_t pid) override {
    if (openFails) return std::nullopt;
    return pid;
  }
  std::optional<std::uint32_t> exitCode(std::uintptr_t) override {
    if (pollsRunning > 0) {
      --pollsRunning;
      return kStillActive;
    }
    return 0;
  }
  void close(std::uintptr_t) override { ++closes; }
  bool isOrdinaryFile(const Text& path) override {
    return std::find(files.begin(), files.end(), toUtf8(path)) != files.end();
  }
  void exitNow() override { ++exits; }

  std::vector<std::string> started, applications, files;
  std::function<void(const Text&)> onStart;
  bool startFails = false, openFails = false;
  int pollsRunning = 0, closes = 0, exits = 0;
  std::uint32_t nextPid = 42;
};

// The lamp as the core drives it: "toggle" and "out" in order.
class FakeLamp : public KeyboardLamp {
 public:
  void toggle() override { calls.push_back("toggle"); }
  void putOut() override { calls.push_back("out"); }
  std::vector<std::string> calls;
};

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

// The user is busy while `busyNow` says so; each question is counted.
struct FakeAttention : UserAttention {
  bool busy() override {
    ++asked;
    return busyNow;
  }
  bool busyNow = false;
  int asked = 0;
};

class FakeSound : public SoundPlayer {
 public:
  std::vector<std::string> played;
  void play(const Text& path, bool async) override {
    played.push_back((async ? "async " : "sync ") + toUtf8(path));
  }
  void beep() override { played.push_back("beep"); }
};

// A Remote Access Service with a phone book and a line that connects after
// a number of polls, or never.
class FakeDialup : public DialupService {
 public:
  std::vector<RasHandle> active;  // handles of active connections
  std::vector<Text> phoneBook;
  // Polls before the line connects; -1: it goes to disconnected instead,
  // -2: it stays in progress for ever.
  int pollsToConnect = 0;
  std::uint32_t dialResult = 0;
  std::vector<std::string> calls;  // "enum", "entries", "dial NAME", "status", "hangup H"
  std::vector<RasHandle> dialHandlesIn;

  std::vector<RasHandle> connections() override {
    calls.push_back("enum");
    return active;
  }
  std::vector<Text> entries() override {
    calls.push_back("entries");
    return phoneBook;
  }
  std::uint32_t dial(const Text& entry, RasHandle& handle) override {
    calls.push_back("dial " + toUtf8(entry));
    dialHandlesIn.push_back(handle);
    handle = nextHandle_++;
    polls_ = 0;
    return dialResult;
  }
  std::uint32_t connectStatus(RasHandle handle, std::uint32_t& state) override {
    calls.push_back("status");
    ++polls_;
    if (pollsToConnect == -1) {
      state = kRasDisconnected;
    } else if (pollsToConnect == -2 || polls_ <= pollsToConnect) {
      state = 1;  // still dialling
    } else {
      state = kRasConnected;
      active.push_back(handle);
    }
    return 0;
  }
  void hangUp(RasHandle handle) override {
    calls.push_back("hangup " + std::to_string(handle));
    std::erase(active, handle);
  }
  int count(const std::string& prefix) const {
    int n = 0;
    for (auto& c : calls) n += c.rfind(prefix, 0) == 0;
    return n;
  }

 private:
  RasHandle nextHandle_ = 500;
  int polls_ = 0;
};

// Hotkeys: atoms are numbered from 0xC000; keys listed in `taken` belong
// to another program.
class FakeRegistrar : public HotkeyRegistrar {
 public:
  int addAtom(const Text& name) override {
    if (atomsFail) return 0;
    const int atom = nextAtom++;
    atoms[atom] = toUtf8(name);
    return atom;
  }
  void deleteAtom(int atom) override { atoms.erase(atom); }
  bool registerKey(int id, unsigned modifiers, unsigned vk) override {
    const unsigned key = modifiers << 16 | vk;
    if (std::find(taken.begin(), taken.end(), key) != taken.end()) return false;
    registered[id] = key;
    return true;
  }
  void unregisterKey(int id) override { registered.erase(id); }
  void hookWindow() override { hooked = true; }
  void unhookWindow() override { hooked = false; }

  std::map<int, std::string> atoms;
  std::map<int, unsigned> registered;  // id -> modifiers << 16 | key
  std::vector<unsigned> taken;
  bool atomsFail = false, hooked = false;
  int nextAtom = 0xC000;
};

// The notification-area icon: every call in order, and what it shows now.
class FakeTrayIcon : public TrayIcon {
 public:
  void show(const Text& tip, bool newMail) override {
    calls.push_back("show");
    shown = true;
    set(tip, newMail);
  }
  void update(const Text& tip, bool newMail) override {
    calls.push_back("update");
    set(tip, newMail);
  }
  void remove() override {
    calls.push_back("remove");
    shown = false;
  }
  void balloon(const Text& title, const Text& text, bool heldInQuietTime) override {
    calls.push_back("balloon");
    balloons.push_back(toUtf8(title) + "|" + toUtf8(text));
    lastBalloonHeldInQuietTime = heldInQuietTime;
  }

  std::vector<std::string> calls, balloons;
  bool shown = false, newMailPicture = false, lastBalloonHeldInQuietTime = false;
  std::string tooltip;

 private:
  void set(const Text& tip, bool newMail) {
    tooltip = toUtf8(tip);
    newMailPicture = newMail;
  }
};

}  // namespace tarvi::fakes
