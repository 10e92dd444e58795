// A blocking link to a scripted POP3 server (or, with `imap` set, the
// scripted IMAP server of fake_imap.h) for the settings program's
// connection test. The server speaks the fake TLS of fake_tls.h when told
// to (from the first byte, or after STLS), delivers at most `chunk` bytes a
// receive so that lines and records arrive cut, and records the plain
// commands it got.
#pragma once

#include <algorithm>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "settings/connection_test.h"
#include "tests/fakes/fake_imap.h"
#include "tests/fakes/fake_tls.h"

namespace tarvi::fakes {

class FakeLink : public settings::TestLink {
 public:
  // What the test sets.
  Status connectStatus = Status::Ok;
  bool implicitTls = false;
  std::string greeting = "+OK ready";
  std::map<std::string, std::string> replies;  // first word -> reply line; "+OK" otherwise
  std::string silentAt;                        // a command after which the server says nothing
  std::size_t chunk = 1 << 20;
  std::optional<ImapServer> imap;  // set: the server speaks IMAP (greet with "* OK ...")

  // What happened.
  std::string host;
  int port = 0;
  std::vector<std::string> commands;
  bool closed = false;
  bool tlsActive = false, handshakeDone = false;

  Status connect(const std::string& h, int p) override {
    host = h;
    port = p;
    if (connectStatus != Status::Ok) return connectStatus;
    tlsActive = implicitTls;
    if (!implicitTls) queue(greeting);
    return Status::Ok;
  }

  Status send(const std::string& bytes) override {
    if (closed) return Status::Failed;
    if (tlsActive) {
      sealedIn_ += bytes;
      std::string payload;
      bool bad = false;
      while (faketls::open(sealedIn_, payload, bad)) {
        if (!handshakeDone) {
          if (payload.rfind(faketls::kClientHello, 0) == 0) {
            out_ += faketls::record(faketls::kServerHello);
          } else if (payload == "FINISHED") {
            handshakeDone = true;
            if (implicitTls) queue(greeting);
          }
        } else if (payload != faketls::kClose) {
          commandBytes(payload);
        }
      }
      return Status::Ok;
    }
    commandBytes(bytes);
    return Status::Ok;
  }

  Status receive(std::string& into) override {
    if (closed) return Status::Failed;
    if (out_.empty()) return Status::TimedOut;
    const std::size_t n = std::min(chunk, out_.size());
    into += out_.substr(0, n);
    out_.erase(0, n);
    return Status::Ok;
  }

  void close() override { closed = true; }

 private:
  void queue(const std::string& line) {
    const std::string bytes = line + "\r\n";
    out_ += (tlsActive && handshakeDone) ? faketls::seal(bytes) : bytes;
  }

  void commandBytes(const std::string& bytes) {
    plainIn_ += bytes;
    for (auto eol = plainIn_.find("\r\n"); eol != std::string::npos; eol = plainIn_.find("\r\n")) {
      const std::string cmd = plainIn_.substr(0, eol);
      plainIn_.erase(0, eol + 2);
      commands.push_back(cmd);
      if (imap) {
        const std::string reply = imap->respond(cmd);
        out_ += (tlsActive && handshakeDone) ? faketls::seal(reply) : reply;
        const std::size_t space = cmd.find(' ');
        if (cmd.substr(space + 1) == "STARTTLS" && reply.find(" OK") == space) tlsActive = true;
        continue;
      }
      const std::string word = cmd.substr(0, cmd.find(' '));
      if (word == silentAt) continue;
      const auto r = replies.find(word);
      const std::string reply = r != replies.end() ? r->second : "+OK";
      queue(reply);
      if (word == "STLS" && reply.rfind("+OK", 0) == 0) tlsActive = true;
    }
  }

  std::string out_, sealedIn_, plainIn_;
};

}  // namespace tarvi::fakes
