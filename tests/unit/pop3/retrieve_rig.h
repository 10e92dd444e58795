#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "monitor/pop3/delete_session.h"
#include "monitor/pop3/retrieve_session.h"
#include "tests/fakes/check_rig.h"

namespace tarvi::fakes {

// Records what a message box was asked with, including the default button.
class AskingDialogs : public FakeDialogs {
 public:
  MsgAnswer messageBox(const Text& text, const Text& title, MsgButtons buttons, MsgIcon icon,
                       bool defaultSecond) override {
    defaults.push_back(defaultSecond);
    return FakeDialogs::messageBox(text, title, buttons, icon, defaultSecond);
  }
  std::vector<bool> defaults;
};

// The check machinery plus both runs, against servers that also know RETR
// and DELE: deletions take effect at QUIT, as POP3 has it, and are
// forgotten when a session ends otherwise.
struct RunRig : CheckRig {
  RetrieveSession retrieve{form, transport, cycle, tally, mailList};
  DeleteSession del{form, transport, cycle, tally, mailList};
  std::map<int, std::set<int>> pendingDele;  // by port
  std::vector<std::string> popup;            // what the runs asked of the popup
  bool actionsEnabled = true, gridEnabled = true, busy = false;

  RunRig() {
    retrieve.install();
    del.install();
    sock.respond = [this](const std::string& cmd) { return serve(cmd); };
    store.set("Option3value", "1");
    for (RunHooks* h : {&retrieve.hooks, &del.hooks}) {
      h->setRetrDelEnabled = [this](bool on) { actionsEnabled = on; };
      h->setGridEnabled = [this](bool on) { gridEnabled = on; };
      h->refreshMarks = [this] {
        popup.push_back("refreshMarks");
        for (int a = 1; a <= mailList.accounts(); ++a)
          for (int m = 1; m <= mailList.messages(); ++m) mailList.at(a, m).Marked = 0;
      };
      h->setBusyPointer = [this](bool on) { busy = on; };
      h->caption = [this] { return fromUtf8(view.caption()); };
    }
    cycle.hooks.refreshMarks = retrieve.hooks.refreshMarks;
    cycle.hooks.setGridEnabled = retrieve.hooks.setGridEnabled;
    cycle.hooks.defaultPointer = [this] { busy = false; };
  }

  std::string serve(const std::string& cmd) {
    const int port = sock.lastPort;
    Mailbox& b = boxes[port];
    for (auto& [k, v] : b.replies)
      if (cmd.rfind(k, 0) == 0) return v;
    auto number = [&](std::size_t at) { return std::atoi(cmd.c_str() + at); };
    auto valid = [&](int n) {
      return n >= 1 && n <= static_cast<int>(b.messages.size()) && !pendingDele[port].count(n);
    };
    if (cmd.rfind("USER ", 0) == 0) pendingDele[port].clear();
    if (cmd.rfind("RETR ", 0) == 0) {
      const int n = number(5);
      if (!valid(n)) return "-ERR no such message\r\n";
      const std::string& m = b.messages[static_cast<std::size_t>(n - 1)];
      return "+OK " + std::to_string(m.size()) + " octets\r\n" + m + ".\r\n";
    }
    if (cmd.rfind("DELE ", 0) == 0) {
      const int n = number(5);
      if (!valid(n)) return "-ERR no such message\r\n";
      pendingDele[port].insert(n);
      return "+OK Marked to be deleted.\r\n";
    }
    if (cmd == "QUIT") {
      auto& d = pendingDele[port];
      for (auto it = d.rbegin(); it != d.rend(); ++it)
        b.messages.erase(b.messages.begin() + (*it - 1));
      d.clear();
    }
    return b.respond(cmd);
  }

  // A whole check cycle, run to its end.
  void checkAll() {
    cycle.checkmail();
    settle();
  }
  // Lets timers and notifications run for `seconds` of fake time.
  void settle(int seconds = 30) {
    pump.runAll();
    for (int i = 0; i < seconds; ++i) clock.advance(1000);
  }
  void mark(int a, int m) { mailList.at(a, m).Marked = -1; }

  // Message boxes other than the delete question and the one a QUIT on no
  // connection gives.
  std::vector<std::string> errorBoxes() const {
    std::vector<std::string> out;
    for (auto& t : dialogs.texts())
      if (t != "ｿｹｯﾄ以外が指定されました" && t != toUtf8(kDeleteQuestion)) out.push_back(t);
    return out;
  }
};

inline std::vector<std::string> subjects(const Mailbox& b) {
  std::vector<std::string> out;
  for (auto& m : b.messages) {
    const auto p = m.find("Subject: ");
    out.push_back(m.substr(p + 9, m.find("\r\n", p) - p - 9));
  }
  return out;
}

}  // namespace tarvi::fakes
