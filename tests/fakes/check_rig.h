#pragma once

#include <map>
#include <string>
#include <vector>

#include "common/scramble.h"
#include "monitor/cycle/check_cycle.h"
#include "monitor/desktop/mail_form.h"
#include "monitor/pop3/check_session.h"
#include "monitor/pop3/transport.h"
#include "tests/fakes/fake_desktop.h"
#include "tests/fakes/fake_dialogs.h"
#include "tests/fakes/fake_pump.h"
#include "tests/fakes/fake_socket.h"
#include "tests/fakes/fake_store.h"
#include "tests/fakes/fake_timers.h"

namespace tarvi::fakes {

// A POP3 mailbox as the scripted server answers for it.
struct Mailbox {
  std::string user = "joe";
  std::string pass = "secret";
  std::vector<std::string> messages;  // each with CR LF line ends, dot-stuffed
  // Overrides: the reply to a command that starts with the key.
  std::map<std::string, std::string> replies;

  std::string respond(const std::string& cmd) const {
    for (auto& [k, v] : replies)
      if (cmd.rfind(k, 0) == 0) return v;
    if (cmd == "USER " + user) return "+OK\r\n";
    if (cmd.rfind("USER ", 0) == 0) return "+OK\r\n";
    if (cmd == "PASS " + pass) return "+OK logged in\r\n";
    if (cmd.rfind("PASS ", 0) == 0) return "-ERR [AUTH] Authentication failed.\r\n";
    if (cmd == "STAT") {
      std::size_t size = 0;
      for (auto& m : messages) size += m.size();
      return "+OK " + std::to_string(messages.size()) + " " + std::to_string(size) + "\r\n";
    }
    if (cmd.rfind("TOP ", 0) == 0) {
      const int n = std::atoi(cmd.c_str() + 4);
      if (n < 1 || n > static_cast<int>(messages.size())) return "-ERR no such message\r\n";
      return "+OK\r\n" + messages[static_cast<std::size_t>(n - 1)] + ".\r\n";
    }
    if (cmd == "QUIT") return "+OK Logging out.\r\n";
    if (cmd == "NOOP") return "+OK\r\n";
    return "-ERR unknown\r\n";
  }
};

inline std::string message(const std::string& from, const std::string& subject) {
  return "From: " + from + "\r\nSubject: " + subject + "\r\n\r\nbody line\r\n";
}

// The monitor's check machinery on fakes.
struct CheckRig {
  FakeStore store;
  FakeTimerDriver clock;
  FakePump pump;
  FakeDialogs dialogs;
  FakeProcesses processes;
  FakeMainView view;
  FakeLamp lamp;
  MailForm form{{store, clock, pump, dialogs, processes, view, lamp}};
  FakeSocket sock{pump};
  Transport transport{sock, form};
  MailList mailList;
  CheckTally tally;
  CheckSession session{transport, tally, mailList};
  CheckCycle cycle{form, transport, tally};
  std::map<int, Mailbox> boxes;  // by port

  CheckRig() {
    transport.setHandler(SessionKind::Check, &session);
    sock.notify = [this](SocketHandle s, int e) { transport.onNotify(s, e); };
    sock.respond = [this](const std::string& cmd) { return boxes[sock.lastPort].respond(cmd); };
    clock.onTick = [this](TimerId id) {
      form.onTimer(id);
      pump.runAll();
    };
    form.resetMailTable = [this](int n) { mailList.redim(n); };
    store.set("Option3value", "0");  // error boxes shown, so the tests see them
  }

  // Account n on port 1000 + n, served by boxes[1000 + n].
  Mailbox& addAccount(int n, const std::string& name, int check = 1) {
    const std::string s = std::to_string(n);
    store.set("Aname" + s, name);
    store.set("Hname" + s, "127.0.0.1");
    store.set("Portno" + s, std::to_string(1000 + n));
    store.set("Uname" + s, "user" + s);
    store.values[u"Passw" + ascii(s)] = scramblePass(u"pw" + ascii(s));
    store.set("Check" + s, std::to_string(check));
    store.set("accountno", std::to_string(std::max(n, std::atoi(store.at("accountno").c_str()))));
    Mailbox& b = boxes[1000 + n];
    b.user = "user" + s;
    b.pass = "pw" + s;
    return b;
  }

  // Reads the settings and starts the timers as start-up does.
  void start() {
    form.loadoption();
    mailList.redim(form.opt.accountno);
    cycle.install();
  }

  // One check session for account n, run to its end.
  void checkOne(int n) {
    form.loadadata(n);
    tally.accountIdx = n;
    transport.logon(SessionKind::Check);
    pump.runAll();
  }

  std::vector<std::string> sentSince(std::size_t from) const {
    return std::vector<std::string>(sock.sent.begin() + static_cast<long>(from), sock.sent.end());
  }
};

}  // namespace tarvi::fakes
