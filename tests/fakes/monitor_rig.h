// The whole monitor on fakes, with scripted POP3 servers behind the fake
// socket (one mailbox per port) that know USER, PASS, STAT, TOP, RETR,
// DELE, NOOP and QUIT. Deletions take effect at QUIT, as POP3 has it, and
// are forgotten when a session ends otherwise.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/scramble.h"
#include "monitor/app/monitor.h"
#include "tests/fakes/fake_desktop.h"
#include "tests/fakes/fake_dialogs.h"
#include "tests/fakes/fake_imap.h"
#include "tests/fakes/fake_pump.h"
#include "tests/fakes/fake_socket.h"
#include "tests/fakes/fake_store.h"
#include "tests/fakes/fake_timers.h"
#include "tests/fakes/fake_tls.h"
#include "tests/fakes/fake_tokens.h"
#include "tests/fakes/fake_charset.h"
#include "tests/fakes/fake_list_store.h"
#include "tests/fakes/fake_network.h"

namespace tarvi::fakes {

struct Mailbox {
  std::string user = "joe";
  std::string pass = "secret";
  std::vector<std::string> messages;  // each with CR LF line ends, dot-stuffed
  // Overrides: the reply to a command that starts with the key.
  std::map<std::string, std::string> replies;
  std::set<int> pendingDele;
  // TLS from the first byte (faketls); STLS is answered in any case.
  bool implicitTls = false;

  // The fast check: UIDL (the unique id of a message is uidOf its text
  // unless `uids` gives them), CAPA listing PIPELINING when `pipelining`.
  std::vector<std::string> uids;  // kept in step with `messages` when given
  bool pipelining = true;

  // A token logon (AUTH XOAUTH2 or OAUTHBEARER) takes this access token;
  // empty: the server knows neither mechanism. `oauthBearerOnly` refuses
  // XOAUTH2 as unknown.
  std::string token;
  bool oauthBearerOnly = false;
  std::string sasl;       // the mechanism of a logon under way
  bool challenged = false;  // its response was refused; the empty answer is due

  bool valid(int n) const {
    return n >= 1 && n <= static_cast<int>(messages.size()) && !pendingDele.count(n);
  }
  static std::string uidOf(const std::string& text) {
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
    return "id" + std::to_string(h);
  }
  std::string uid(int n) const {
    const auto i = static_cast<std::size_t>(n - 1);
    return i < uids.size() ? uids[i] : uidOf(messages[i]);
  }
  // Several command lines sent in one write (pipelining) are answered in
  // turn, their replies in one piece.
  std::string respond(const std::string& cmd) {
    if (const std::size_t crlf = cmd.find("\r\n"); crlf != std::string::npos)
      return respond(cmd.substr(0, crlf)) + respond(cmd.substr(crlf + 2));
    for (auto& [k, v] : replies)
      if (cmd.rfind(k, 0) == 0) return v;
    if (!sasl.empty()) {
      const bool bearer = sasl == "OAUTHBEARER";
      if (challenged) {
        sasl.clear();
        challenged = false;
        return cmd == (bearer ? "AQ==" : "") ? "-ERR [AUTH] Authentication failed.\r\n" : "-ERR bad answer\r\n";
      }
      if (bearerResponseCarries(cmd, user, token, bearer)) {
        sasl.clear();
        return "+OK Logged in.\r\n";
      }
      challenged = true;
      return "+ eyJzdGF0dXMiOiI0MDEiLCJzY2hlbWVzIjoiYmVhcmVyIn0=\r\n";
    }
    if (cmd == "AUTH XOAUTH2" || cmd == "AUTH OAUTHBEARER") {
      if (token.empty() || (oauthBearerOnly && cmd == "AUTH XOAUTH2")) return "-ERR Unsupported authentication mechanism.\r\n";
      pendingDele.clear();
      sasl = cmd.substr(5);
      return "+ \r\n";
    }
    auto number = [&](std::size_t at) { return std::atoi(cmd.c_str() + at); };
    if (cmd.rfind("USER ", 0) == 0) {
      pendingDele.clear();
      return "+OK\r\n";
    }
    if (cmd == "PASS " + pass) return "+OK logged in\r\n";
    if (cmd.rfind("PASS ", 0) == 0) return "-ERR [AUTH] Authentication failed.\r\n";
    if (cmd == "STAT") {
      std::size_t size = 0;
      for (auto& m : messages) size += m.size();
      return "+OK " + std::to_string(messages.size()) + " " + std::to_string(size) + "\r\n";
    }
    if (cmd.rfind("TOP ", 0) == 0) {
      if (!valid(number(4))) return "-ERR no such message\r\n";
      return "+OK\r\n" + messages[static_cast<std::size_t>(number(4) - 1)] + ".\r\n";
    }
    if (cmd.rfind("RETR ", 0) == 0) {
      if (!valid(number(5))) return "-ERR no such message\r\n";
      const std::string& m = messages[static_cast<std::size_t>(number(5) - 1)];
      return "+OK " + std::to_string(m.size()) + " octets\r\n" + m + ".\r\n";
    }
    if (cmd.rfind("DELE ", 0) == 0) {
      if (!valid(number(5))) return "-ERR no such message\r\n";
      pendingDele.insert(number(5));
      return "+OK Marked to be deleted.\r\n";
    }
    if (cmd == "QUIT") {
      for (auto it = pendingDele.rbegin(); it != pendingDele.rend(); ++it) {
        messages.erase(messages.begin() + (*it - 1));
        if (static_cast<std::size_t>(*it) <= uids.size()) uids.erase(uids.begin() + (*it - 1));
      }
      pendingDele.clear();
      return "+OK Logging out.\r\n";
    }
    if (cmd == "NOOP") return "+OK\r\n";
    if (cmd == "CAPA")
      return std::string("+OK\r\nTOP\r\nUIDL\r\n") + (pipelining ? "PIPELINING\r\n" : "") + ".\r\n";
    if (cmd == "UIDL") {
      std::string out = "+OK\r\n";
      for (int n = 1; n <= static_cast<int>(messages.size()); ++n)
        if (valid(n)) out += std::to_string(n) + " " + uid(n) + "\r\n";
      return out + ".\r\n";
    }
    if (cmd.rfind("UIDL ", 0) == 0) {
      if (!valid(number(5))) return "-ERR no such message\r\n";
      return "+OK " + std::to_string(number(5)) + " " + uid(number(5)) + "\r\n";
    }
    if (cmd == "STLS") return "+OK Begin TLS negotiation now.\r\n";
    return "-ERR unknown\r\n";
  }
};

inline std::string message(const std::string& from, const std::string& subject) {
  return "From: " + from + "\r\nSubject: " + subject + "\r\n\r\nbody line\r\n";
}

struct MonitorRig {
  FakeStore store;
  FakeTimerDriver timers;
  FakePump pump;
  FakeDialogs dialogs;
  FakeProcesses processes;
  FakeWindow window;
  FakeViewer viewer;
  FakeLamp lamp;
  FakeSound sound;
  FakeSocket sock{pump};
  FakeSocket pushSock{pump};  // the server the push connections reach
  FakeDialup ras;
  FakeRegistrar registrar;
  FakeCharsets charsets;
  FakeTrayIcon tray;
  FakeListStore lists;
  FakeTlsFactory tlsFactory;
  FakeTokenService tokens{pump};
  FakeAttention attention;
  FakeNetwork network;
  Monitor monitor{{store, timers, pump, dialogs, processes, window, window, viewer, lamp, sound,
                   sock, ras, registrar, charsets, tray, lists, &tlsFactory, &pushSock, &tokens,
                   &attention, &network}};
  std::map<int, Mailbox> boxes;  // by port
  std::map<int, ImapServer> imaps;  // by port, for the IMAP accounts
  std::map<int, ImapServer> pushImaps;  // the push connections' view of them
  int pushConnection_ = 0;

  MonitorRig() {
    sock.notify = [this](SocketHandle s, std::uint32_t tag, int e, int event) {
      monitor.onSocket(s, tag, e, event);
    };
    sock.respond = [this](const std::string& cmd) {
      auto imap = imaps.find(sock.lastPort);
      return imap != imaps.end() ? imap->second.respond(cmd) : boxes[sock.lastPort].respond(cmd);
    };
    sock.greetingFor = [this](std::uint16_t port) {
      return imaps.count(port) ? std::string("* OK IMAP4rev1 ready\r\n") : sock.greeting;
    };
    sock.implicitTls = [this](std::uint16_t port) { return boxes[port].implicitTls; };
    pushSock.notify = sock.notify;
    // The push connection has a session of its own on the same server.
    pushSock.respond = [this](const std::string& cmd) {
      ImapServer& s = pushImaps.try_emplace(pushSock.lastPort, imaps[pushSock.lastPort]).first->second;
      if (pushSock.opened != pushConnection_) {  // a new connection starts outside IDLE
        pushConnection_ = pushSock.opened;
        s.idling = false;
      }
      return s.respond(cmd);
    };
    pushSock.greetingFor = sock.greetingFor;
    tokens.deliver = [this](std::uint32_t request, const TokenReply& r) { monitor.onTokenReply(request, r); };
    timers.onTick = [this](TimerId id) {
      monitor.onTimer(id);
      pump.runAll();
    };
    store.set("Option3value", "0");  // error boxes shown, so the tests see them
    // The tests written for the decoding of earlier versions keep it; those
    // of the full decoding turn it on.
    store.set("Decodeall", "0");
    // No icon, as before there was one; the tests of the icon turn it on.
    store.set("Trayicon", "0");
    // The dialogue of earlier versions; the fast-check tests turn it on.
    store.set("Fastcheck", "0");
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

  // Account n as an IMAP account on port 1000 + n, served by imaps[1000 + n].
  ImapServer& addImapAccount(int n, const std::string& name) {
    addAccount(n, name);
    boxes.erase(1000 + n);
    store.set("Protocol" + std::to_string(n), "1");
    ImapServer& s = imaps[1000 + n];
    s.user = "user" + std::to_string(n);
    s.pass = "pw" + std::to_string(n);
    return s;
  }

  // The start-up of the monitor, as main runs it.
  bool start() {
    if (!monitor.initialize(false, 15, 15)) return false;
    monitor.windowCreated();
    return monitor.load();
  }

  MonitorState& state() { return monitor.state(); }
  MailItem& item(int a, int m) { return *state().accounts.find(a)->mail.find(m); }
  void mark(int a, int m) { item(a, m).marked = true; }

  // A whole check cycle, run to its end.
  void checkAll() {
    monitor.checkAll();
    settle();
  }
  // Lets timers and notifications run for `seconds` of fake time.
  void settle(int seconds = 30) {
    pump.runAll();
    for (int i = 0; i < seconds; ++i) timers.advance(1000);
  }
  // The command lines sent, those of one pipelined write each on its own.
  std::vector<std::string> commands(std::size_t from = 0) const {
    std::vector<std::string> out;
    for (std::size_t i = from; i < sock.sent.size(); ++i) {
      std::string s = sock.sent[i];
      for (std::size_t crlf; (crlf = s.find("\r\n")) != std::string::npos; s.erase(0, crlf + 2))
        out.push_back(s.substr(0, crlf));
      out.push_back(s);
    }
    return out;
  }
  std::vector<std::string> sentSince(std::size_t from) const {
    return std::vector<std::string>(sock.sent.begin() + static_cast<long>(from), sock.sent.end());
  }
};

}  // namespace tarvi::fakes
