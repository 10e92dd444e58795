#pragma once

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "monitor/services/socket_api.h"
#include "tests/fakes/fake_pump.h"
#include "tests/fakes/fake_tls.h"

namespace tarvi::fakes {

// A socket service with a scripted POP3 server behind it. Notifications are
// posted to the fake pump with Windows Sockets' rules: connect completion
// once, write as soon as it is asked for, read when data is there and the
// previous read notification has been answered by a recv, close once when
// the server hung up (after what it sent before) or reset the connection.
class FakeSocket : public SocketApi {
 public:
  explicit FakeSocket(FakePump& pump) : pump_(pump) {}

  // --- the scripted server ------------------------------------------------
  std::string greeting = "+OK ready\r\n";
  // The greeting of the server on a port, where it is not `greeting`.
  std::function<std::string(std::uint16_t port)> greetingFor;
  // The reply to a command (given without its CR LF); empty: no answer.
  std::function<std::string(const std::string&)> respond;
  // How each reply is cut into chunks; default: one piece.
  std::function<std::vector<std::string>(const std::string&)> split;
  // Error code carried by the connect notification; 0 when it succeeds.
  int connectError = 0;
  // connect() fails at once with this code (0: it completes later).
  int connectFailsWith = 0;
  bool openFails = false;
  bool reuseHandles = false;
  int nonBlockingFailsWith = 0;
  // The next recv fails with this code.
  int recvFailsWith = 0;
  int startupFailsWith = 0;
  std::map<std::string, std::uint32_t> hosts;  // name -> IPv4 address
  // name -> every address, where a host has several.
  std::map<std::string, std::vector<SocketAddress>> addresses;
  // Connecting to one of these completes with its error.
  std::map<std::string, int> refusing;  // by addressText
  // Lookups are answered when the pump runs, unless held.
  bool holdLookups = false;
  void releaseLookups() {
    for (auto& l : heldLookups_) pump_.post(l);
    heldLookups_.clear();
  }
  // TLS with faketls records: whether the server on a port speaks it from
  // the first byte (it then sends its greeting right after its handshake
  // record, in the same piece). After an accepted STLS it speaks it too.
  std::function<bool(std::uint16_t port)> implicitTls;
  // The reply to a command starting with this is followed by a close record.
  std::string tlsCloseAfter;
  // Replies under TLS go out as they are, not sealed: they are the records.
  bool tlsRaw = false;
  // A slow link: a send takes at most this many bytes (0: all of them), and
  // the one after a short send would block until the pump has run, which
  // then posts the write notification owed.
  std::size_t sendRoom = 0;

  // --- what happened ------------------------------------------------------
  std::vector<std::string> sent;  // command lines without CR LF (decrypted)
  std::string wire;               // every byte the client sent, as sent
  std::vector<std::string> tlsHosts;  // the host names of the client hellos
  int tlsCloses = 0;                  // close records from the client
  std::vector<std::string> events;
  int startups = 0, cleanups = 0, opened = 0, closed = 0, unhooks = 0;
  int selects = 0, recvs = 0;  // calls, each one a trip into the system
  std::uint32_t lastAddr = 0;  // IPv4, in network order
  std::uint16_t lastPort = 0;
  std::vector<std::string> connectedTo;  // addressText of every connect
  std::vector<std::string> lookedUp;     // the host of every lookup

  static std::string addressText(const SocketAddress& a) {
    char out[64];
    if (a.family == SocketAddress::Family::V4) {
      std::snprintf(out, sizeof out, "%u.%u.%u.%u", a.bytes[0], a.bytes[1], a.bytes[2], a.bytes[3]);
      return out;
    }
    std::string s = "[";
    for (int i = 0; i < 16; i += 2) {
      std::snprintf(out, sizeof out, "%s%x", i ? ":" : "", a.bytes[i] << 8 | a.bytes[i + 1]);
      s += out;
    }
    return s + "]";
  }
  static SocketAddress v4(std::uint32_t addr, std::uint16_t port) {
    SocketAddress a;
    std::memcpy(a.bytes.data(), &addr, 4);
    a.port = port;
    return a;
  }
  std::function<void(SocketHandle, std::uint32_t, int error, int event)> notify;
  std::uint32_t lastTag = 0;

  // The server closes the current connection once what it sent is read:
  // recv gives 0 from then on.
  void serverCloses() {
    closing_ = true;
    inbox_.push_back(std::string());
    maybePostRead();
  }
  // The server resets the connection now: what it sent and was not read
  // is lost, and every recv fails with `code`.
  void serverResets(int code) {
    inbox_.clear();
    resetWith_ = code;
    if (current_ != kNoSocket && (mask_ & kFdClose)) post(current_, code, kFdClose);
  }
  // Queues bytes from the server on the current socket (split as set).
  void serverSends(const std::string& bytes) {
    for (auto& c : split ? split(bytes) : std::vector<std::string>{bytes})
      if (!c.empty()) inbox_.push_back(c);
    maybePostRead();
  }
  // With holdConnect a connection completes only when released: the
  // network is slower than the handler that is running.
  bool holdConnect = false;
  void releaseConnects() {
    for (auto& c : held_) pump_.post(c);
    held_.clear();
  }
  bool open_(SocketHandle s) const { return s == current_ && current_ != kNoSocket; }
  SocketHandle current() const { return current_; }
  std::size_t pendingChunks() const { return inbox_.size(); }

  // --- SocketApi ----------------------------------------------------------
  // A start that failed needs no cleanup, and is not counted.
  int startup() override {
    if (startupFailsWith) return startupFailsWith;
    ++startups;
    return 0;
  }
  void cleanup() override { ++cleanups; }
  void unhookBlockingHook() override { ++unhooks; }
  SocketHandle open(SocketAddress::Family) override {
    if (openFails) return kNoSocket;
    ++opened;
    // With reuseHandles every socket gets the same handle, as a system
    // that hands out the lowest free handle would.
    current_ = reuseHandles ? next_ : next_++;
    inbox_.clear();
    mask_ = 0;
    readPosted_ = false;
    connected_ = false;
    tlsOn_ = false;
    tlsIn_.clear();
    tlsPlain_.clear();
    unread_.clear();
    full_ = owedWrite_ = false;
    closing_ = closePosted_ = false;
    resetWith_ = 0;
    return current_;
  }
  void select(SocketHandle s, std::uint32_t tag, int events) override {
    ++selects;
    if (!open_(s)) return;
    tag_ = tag;
    lastTag = tag;
    mask_ = events;
    readPosted_ = false;
    if ((events & kFdWrite) && connected_) post(s, 0, kFdWrite);
    maybePostRead();
  }
  void resolve(const std::string& host, std::uint16_t port, std::uint32_t tag) override {
    lookedUp.push_back(host);
    std::vector<SocketAddress> found;
    if (auto it = addresses.find(host); it != addresses.end()) {
      for (SocketAddress x : it->second) {
        x.port = port;
        found.push_back(x);
      }
    } else if (auto h = hosts.find(host); h != hosts.end()) {
      found.push_back(v4(h->second, port));
    }
    auto answer = [this, tag, found] {
      found_[tag] = found;
      if (notify) notify(kNoSocket, tag, found.empty() ? kWsaHostNotFound : 0, kFdResolved);
    };
    if (holdLookups)
      heldLookups_.push_back(answer);
    else
      pump_.post(answer);
  }
  // The work runs when the pump does, as a thread that ends at once would.
  int worked = 0;
  void runWork(std::function<void()> work, std::uint32_t tag) override {
    pump_.post([this, work, tag] {
      work();
      ++worked;
      if (notify) notify(kNoSocket, tag, 0, kFdWorkDone);
    });
  }
  std::vector<SocketAddress> resolved(std::uint32_t tag) override {
    auto it = found_.find(tag);
    if (it == found_.end()) return {};
    auto out = it->second;
    found_.erase(it);
    return out;
  }
  int connect(SocketHandle s, const SocketAddress& address) override {
    const std::uint16_t port = address.port;
    std::memcpy(&lastAddr, address.bytes.data(), 4);
    lastPort = port;
    connectedTo.push_back(addressText(address));
    const auto refused = refusing.find(connectedTo.back());
    const int failure = refused != refusing.end() ? refused->second : connectError;
    if (connectFailsWith) {
      error_ = connectFailsWith;
      return -1;
    }
    error_ = kWsaEWouldBlock;
    auto complete = [this, s, port, failure, tag = tag_] {
      if (!open_(s)) return;
      connected_ = failure == 0;
      // Before the notification: the client's hello may go out inside it.
      implicit_ = tlsOn_ = connected_ && implicitTls && implicitTls(port);
      if (notify && (mask_ & kFdConnect)) notify(s, tag, failure, kFdConnect);
      if (connected_ && !implicit_) serverSends(greetingFor ? greetingFor(port) : greeting);
    };
    if (holdConnect)
      held_.push_back(complete);
    else
      pump_.post(complete);
    return -1;
  }
  int setNonBlocking(SocketHandle) override {
    if (nonBlockingFailsWith) {
      error_ = nonBlockingFailsWith;
      return -1;
    }
    return 0;
  }
  int send(SocketHandle s, const std::string& bytes) override {
    if (!open_(s)) {
      error_ = kWsaENotSock;
      return -1;
    }
    std::string taken = bytes;
    if (sendRoom) {
      if (full_) {
        owedWrite_ = true;
        error_ = kWsaEWouldBlock;
        return -1;
      }
      if (taken.size() > sendRoom) {
        taken.resize(sendRoom);
        full_ = true;
        pump_.post([this] {
          full_ = false;
          if (owedWrite_ && (mask_ & kFdWrite) && current_ != kNoSocket) post(current_, 0, kFdWrite);
          owedWrite_ = false;
        });
      }
    }
    wire += taken;
    if (tlsOn_) {
      tlsInput(taken);
      return static_cast<int>(taken.size());
    }
    // The server reads what came as one command (or one pipelined window)
    // once its last line is complete.
    unread_ += taken;
    if (unread_.size() < 2 || unread_.compare(unread_.size() - 2, 2, "\r\n") != 0)
      return static_cast<int>(taken.size());
    std::string line = std::move(unread_);
    unread_.clear();
    line.resize(line.size() - 2);
    sent.push_back(line);
    if (respond) {
      const std::string reply = respond(line);
      if (!reply.empty()) serverSends(reply);
      if ((line == "STLS" && reply.rfind("+OK", 0) == 0) || (line == "T0 STARTTLS" && reply.rfind("T0 OK", 0) == 0))
        tlsOn_ = true;
    }
    return static_cast<int>(taken.size());
  }
  int recv(SocketHandle s, char* buffer, int length) override {
    ++recvs;
    if (!open_(s)) {
      error_ = kWsaENotSock;
      return -1;
    }
    readPosted_ = false;
    if (recvFailsWith || resetWith_) {
      error_ = recvFailsWith ? recvFailsWith : resetWith_;
      recvFailsWith = 0;
      return -1;
    }
    if (!inbox_.empty() && inbox_.front().empty() && closing_) return 0;
    if (inbox_.empty()) {
      error_ = kWsaEWouldBlock;
      return -1;
    }
    std::string& c = inbox_.front();
    const int n = static_cast<int>(std::min<std::size_t>(c.size(), static_cast<std::size_t>(length)));
    std::copy(c.begin(), c.begin() + n, buffer);
    if (static_cast<std::size_t>(n) == c.size())
      inbox_.pop_front();
    else
      c.erase(0, static_cast<std::size_t>(n));
    maybePostRead();
    return n;
  }
  int close(SocketHandle s) override {
    ++closed;
    if (s == current_) {
      current_ = kNoSocket;
      inbox_.clear();
    }
    return 0;
  }
  int lastError() override { return error_; }

 private:
  // The server's end of faketls: the hello answered, records opened, their
  // command lines answered in records.
  void tlsInput(const std::string& bytes) {
    tlsIn_ += bytes;
    std::string payload;
    bool bad = false;
    while (faketls::open(tlsIn_, payload, bad)) {
      if (payload.rfind(faketls::kClientHello, 0) == 0) {
        tlsHosts.push_back(payload.substr(faketls::kClientHello.size()));
        serverSends(faketls::record(faketls::kServerHello) +
                    (implicit_ ? faketls::seal(greetingFor ? greetingFor(lastPort) : greeting) : ""));
      } else if (payload == faketls::kClose) {
        ++tlsCloses;
      } else if (payload != "FINISHED") {
        tlsPlain_ += payload;
        for (std::size_t end; (end = tlsPlain_.find("\r\n")) != std::string::npos;) {
          const std::string line = tlsPlain_.substr(0, end);
          tlsPlain_.erase(0, end + 2);
          sent.push_back(line);
          std::string reply = respond ? respond(line) : "";
          if (!tlsRaw) reply = faketls::seal(reply);
          if (!tlsCloseAfter.empty() && line.rfind(tlsCloseAfter, 0) == 0)
            reply += faketls::record(faketls::kClose);
          if (!reply.empty()) serverSends(reply);
        }
      }
    }
  }

  // A notification carries the tag its socket was selected with when it
  // was posted, as a window message would.
  void post(SocketHandle s, int err, int event) {
    pump_.post([this, s, err, event, tag = tag_] {
      if (notify) notify(s, tag, err, event);
    });
  }
  void maybePostRead() {
    if (current_ == kNoSocket || inbox_.empty()) return;
    if (closing_ && inbox_.front().empty()) {
      // The close is told once, and only to a socket that asked for it.
      if (!(mask_ & kFdClose) || closePosted_) return;
      closePosted_ = true;
      post(current_, 0, kFdClose);
      return;
    }
    if (!(mask_ & kFdRead) || readPosted_) return;
    readPosted_ = true;
    post(current_, 0, kFdRead);
  }

  FakePump& pump_;
  std::vector<std::function<void()>> held_;
  std::deque<std::string> inbox_;
  SocketHandle current_ = kNoSocket;
  SocketHandle next_ = 100;
  int mask_ = 0;
  std::uint32_t tag_ = 0;
  bool readPosted_ = false;
  bool connected_ = false;
  int error_ = 0;
  bool tlsOn_ = false, implicit_ = false;
  std::string tlsIn_, tlsPlain_;
  std::string unread_;  // sent bytes of a command not yet complete
  bool full_ = false, owedWrite_ = false;
  bool closing_ = false;  // serverCloses: an empty piece in the inbox is the end
  bool closePosted_ = false;
  std::map<std::uint32_t, std::vector<SocketAddress>> found_;  // lookups answered, by tag
  std::vector<std::function<void()>> heldLookups_;
  int resetWith_ = 0;  // serverResets: what every recv fails with
};

// Cuts a reply into pieces.
inline std::vector<std::string> bytewise(const std::string& s) {
  std::vector<std::string> out;
  for (char c : s) out.emplace_back(1, c);
  return out;
}
inline std::vector<std::string> cutAt(const std::string& s, std::size_t at) {
  if (at == 0 || at >= s.size()) return {s};
  return {s.substr(0, at), s.substr(at)};
}

}  // namespace tarvi::fakes
