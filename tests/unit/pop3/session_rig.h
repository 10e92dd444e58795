// One POP3 connection on the transport, without the check cycle: the
// scripted mailbox of the monitor rig behind the fake socket, and the
// transport's events recorded instead of acted on.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "monitor/pop3/check_session.h"
#include "monitor/net/transport.h"
#include "tests/fakes/monitor_rig.h"

namespace tarvi::fakes {

using Lines = std::vector<std::string>;

inline Lines operator+(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// What a check session of account 1 sends: USER, PASS, STAT, TOP 1..tops, QUIT.
inline Lines checkDialogue(int tops) {
  Lines out = {"USER user1", "PASS pw1", "STAT"};
  for (int m = 1; m <= tops; ++m) out.push_back("TOP " + std::to_string(m) + " 5");
  out.push_back("QUIT");
  return out;
}

using Marks = std::vector<std::pair<int, int>>;

// Message i of a mailbox: sender ui@x, subject si.
inline std::string msg(int i) { return message("u" + std::to_string(i) + "@x", "s" + std::to_string(i)); }

// Accounts A1, A2, ... holding the given numbers of messages, listed by a
// first check; what the retrieve and delete runs start from.
struct ListedRig : MonitorRig {
  explicit ListedRig(const std::vector<int>& counts, bool onlyChanges = false) {
    for (int a = 1; a <= static_cast<int>(counts.size()); ++a) {
      auto& box = addAccount(a, "A" + std::to_string(a));
      for (int i = 1; i <= counts[static_cast<std::size_t>(a - 1)]; ++i) box.messages.push_back(msg(i));
    }
    if (onlyChanges) store.set("Option6value", "1");
    EXPECT_TRUE(start());
    checkAll();
  }
  // Marks the messages, starts the run and lets it go past the time limit.
  void run(const Marks& marks, void (Monitor::*command)()) {
    for (auto [a, m] : marks) mark(a, m);
    (monitor.*command)();
    settle(70);
  }
};

// No socket left open, every startup matched by a cleanup.
inline void expectAllClosed(const FakeSocket& sock, const std::string& what) {
  EXPECT_EQ(sock.current(), kNoSocket) << what;
  EXPECT_EQ(sock.startups, sock.cleanups) << what;
}

// Every way a test cuts the replies: whole, byte by byte, and in two at
// each offset below `cuts`.
using Split = std::function<Lines(const std::string&)>;
inline std::vector<std::pair<std::string, Split>> splits(std::size_t cuts) {
  std::vector<std::pair<std::string, Split>> out = {{"whole", nullptr}, {"bytes", bytewise}};
  for (std::size_t at = 1; at < cuts; ++at)
    out.push_back({"cut at " + std::to_string(at), [at](const std::string& s) { return cutAt(s, at); }});
  return out;
}

struct SessionRig : TransportEvents {
  FakePump pump;
  FakeSocket sock{pump};
  SessionLog log;
  Transport transport{sock, pump, *this, log};
  Mailbox box;
  AccountSettings account;
  GeneralSettings options;
  FakeCharsets charsets;
  AccountTable accounts;
  CheckTotals totals;
  FakeTlsFactory tls;
  Lines errors;
  int ended = 0, failures = 0, activities = 0;

  SessionRig() {
    sock.notify = [this](SocketHandle s, std::uint32_t tag, int e, int event) {
      transport.onNotify(s, tag, e, event);
    };
    sock.respond = [this](const std::string& cmd) { return box.respond(cmd); };
    sock.implicitTls = [this](std::uint16_t) { return box.implicitTls; };
    transport.tls = &tls;
    box.user = "user1";
    box.pass = "pw1";
    account.host = u"127.0.0.1";
    account.port = 1001;
    account.user = u"user1";
    account.password = u"pw1";
    accounts.resize(1);
    options.decodeAll = false;  // as in MonitorRig
  }
  // What happens while the error box is open (its modal loop delivers
  // notifications).
  std::function<void()> whileReporting;
  void reportError(const Text& m) override {
    errors.push_back(toUtf8(m));
    if (whileReporting) whileReporting();
  }
  void sessionEnded() override { ++ended; }
  void sessionFailed() override { ++failures; }
  void activity() override { ++activities; }

  // A check session of account 1, run until nothing more happens.
  void check() {
    transport.logon(account, std::make_unique<CheckSession>(options, accounts, 1, totals, charsets));
    pump.runAll();
  }
  void addMessages(int n) {
    for (int i = 1; i <= n; ++i)
      box.messages.push_back(message("u" + std::to_string(i) + "@x", "s" + std::to_string(i)));
  }
  AccountState& record() { return *accounts.find(1); }
  std::string subject(int m) { return toUtf8(record().mail.find(m)->subject); }
  Lines sentSince(std::size_t from) const {
    return Lines(sock.sent.begin() + static_cast<long>(from), sock.sent.end());
  }
};

}  // namespace tarvi::fakes
