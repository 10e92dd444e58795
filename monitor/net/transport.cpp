#include "monitor/net/transport.h"

#include "common/cp932.h"
#include "monitor/net/address_literal.h"
#include "monitor/net/sock_err.h"

namespace tarvi {
namespace {

// What a connection waits for while it reads.
constexpr int kReadEvents = kFdRead | kFdClose;

Text trimSpaces(const Text& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && s[b] == u' ') ++b;
  while (e > b && s[e - 1] == u' ') --e;
  return s.substr(b, e - b);
}

}  // namespace

ReplyStatus replyStatus(std::string_view reply) {
  // Four characters are at most eight bytes of code page 932.
  Text head = cp932::decode(reply.substr(0, 8)).substr(0, 4);
  for (auto& c : head) c = static_cast<char16_t>(c >= u'a' && c <= u'z' ? c - 32 : c);
  if (head.find(u"+OK") != Text::npos) return ReplyStatus::Accepted;
  if (head.find(u"-ERR") != Text::npos) return ReplyStatus::Refused;
  return ReplyStatus::Other;
}

void SessionLog::command(const Text& shown) {
  if (enabled) text += shown + u"\r\n";
}

void Dialogue::bytesReceived(std::string_view bytes) {
  conn().replies().append(bytes);
  received();
}

std::size_t Dialogue::held() const { return conn_->replies().size(); }

void SessionLog::add(const Text& t) {
  if (enabled) text += t;
}

// --- Connection ------------------------------------------------------------

Connection::Connection(Transport& transport, const AccountSettings& account,
                       std::unique_ptr<Dialogue> session)
    : t_(transport), account_(account), session_(std::move(session)) {
  session_->attach(*this);
}

Connection::~Connection() { close(); }

bool Connection::current() const { return t_.current_.get() == this; }

void Connection::signInRefused() {
  if (current()) t_.events_.signInRefused();
}

SessionLog& Connection::log() { return t_.log_; }

void Connection::close() {
  if (sock_ != kNoSocket) t_.api_.close(sock_);
  sock_ = kNoSocket;
  armed_ = 0;
  unsent_.clear();
  if (wsaStarted_) t_.api_.cleanup();
  wsaStarted_ = false;
  phase_ = Phase::Closed;
}

void Connection::handOn() {
  if (handedOn_ || !current()) return;
  handedOn_ = true;
  t_.events_.sessionEnded();
}

void Connection::select(int events) {
  t_.api_.select(sock_, tag_, events);
  armed_ = sock_ != kNoSocket ? events : 0;
}

void Connection::armRead() {
  // Once armed, a read notification comes back after every recv that
  // leaves data behind and whenever new data arrives, so the mask need not
  // be set again for every command. The close is asked for with it: a
  // server that hangs up or resets says so only by that notification.
  if (armed_ == kReadEvents) return;
  select(kReadEvents);
}

void Connection::open() {
  Text message;
  if (trimSpaces(account_.host).empty() || trimSpaces(decimal(account_.port)).empty()) {
    message = u"相手先が指定されていません";
  } else if (const Text why = prepareTls(); !why.empty()) {
    message = why;
  } else if (const int err = t_.api_.startup(); err != 0) {
    message = sockErrText(err);
  } else {
    wsaStarted_ = true;
    const std::string host = cp932::encode(trimSpaces(account_.host));
    const auto port = static_cast<std::uint16_t>(account_.port);
    if (const auto literal = parseAddressLiteral(host, port)) {
      addresses_ = {*literal};
      nextAddress_ = 0;
      message = connectNext();
    } else {
      // The lookup runs off the window thread, under the session's time
      // limit; resolved() goes on.
      phase_ = Phase::Resolving;
      t_.api_.resolve(host, port, tag_);
      return;
    }
  }
  if (isNoError(message)) return;
  // Closed before the box is up, and handed on at once: the cycle does not
  // wait out a time limit (or forever, with none) for a connection that
  // never was.
  close();
  t_.events_.reportError(message);
  if (!current()) return;
  t_.events_.sessionFailed();
  handOn();
}

void Connection::resolved(int error) {
  addresses_ = t_.api_.resolved(tag_);
  nextAddress_ = 0;
  lastConnectError_ = 0;
  const Text message = addresses_.empty() ? sockErrText(error != 0 ? error : kWsaHostNotFound) : connectNext();
  if (isNoError(message) || !current()) return;
  close();
  t_.events_.reportError(message);
  if (!current()) return;
  t_.events_.sessionFailed();
  handOn();
}

Text Connection::connectNext() {
  // An address that fails at once gives way to the next; the failure of
  // the last is the one told.
  Text why;
  while (nextAddress_ < addresses_.size() && current()) {
    if (sock_ != kNoSocket) t_.api_.close(sock_);
    armed_ = 0;
    const SocketAddress address = addresses_[nextAddress_++];
    sock_ = t_.api_.open(address.family);
    if (sock_ == kNoSocket) {
      why = u"ｿｹｯﾄ生成ができませんでした";
      continue;
    }
    // A notification still queued for the address given up is not this one's.
    tag_ = t_.newTag();
    select(kFdConnect);
    const int r = t_.api_.connect(sock_, address);
    const int err = r != 0 ? t_.api_.lastError() : 0;
    phase_ = Phase::Connecting;
    t_.pump_.doEvents();
    if (r != 0 && err != kWsaEWouldBlock) {
      why = sockErrText(err);
      continue;
    }
    t_.pump_.doEvents();
    if (sock_ != kNoSocket && t_.api_.setNonBlocking(sock_) != 0) return sockErrText(t_.api_.lastError());
    return {};
  }
  return why;
}

void Connection::send(const Text& command) {
  if (!current()) return;  // a session that lost its connection says nothing more
  // In the middle of a TLS negotiation nothing can be said (the QUIT of
  // the time limit or of a new run): the connection is just closed.
  if (tlsBusy()) {
    close();
    return;
  }
  t_.log_.command(session_->logged(command));
  if (!keepReplies_) replies_.clear();
  const auto bytes = wire(cp932::encode(command));
  if (!bytes) {
    tlsFailed(kTlsFailed);
    return;
  }
  write(*bytes);
}

bool Connection::write(const std::string& bytes) {
  phase_ = Phase::Writing;
  unsent_ += bytes;
  if (sock_ == kNoSocket) {
    t_.pump_.doEvents();
    close();
    // What sending on no socket gives on every system.
    if (current()) t_.events_.reportError(sockErrText(kWsaENotSock));
    return false;
  }
  // Reading is armed (if it is not still) before the send, and the reply
  // may be handled as soon as the pumping below: waiting for a write
  // notification to arm it would cost two more calls into Windows Sockets
  // and a window message for every command.
  armRead();
  const bool ok = flush();
  if (ok) phase_ = Phase::Reading;
  t_.pump_.doEvents();
  return ok;
}

bool Connection::flush() {
  std::size_t taken = 0;
  int err = 0;
  while (taken < unsent_.size()) {
    const int r = t_.api_.send(sock_, taken == 0 ? unsent_ : unsent_.substr(taken));
    if (r > 0) {
      taken += static_cast<std::size_t>(r);
      continue;
    }
    err = r == -1 ? t_.api_.lastError() : 0;
    break;
  }
  unsent_.erase(0, taken);
  if (unsent_.empty()) {
    // Write notifications are no longer wanted once everything is out.
    if (armed_ & kFdWrite) {
      armed_ = 0;
      armRead();
    }
    return true;
  }
  if (err == kWsaEWouldBlock || err == 0) {
    // A full socket buffer on a slow link, or a record larger than it:
    // the rest goes when Windows Sockets says there is room again.
    if (armed_ != (kReadEvents | kFdWrite)) select(kReadEvents | kFdWrite);
    return true;
  }
  const Text message = sockErrText(err);
  close();
  if (!isNoError(message) && current()) t_.events_.reportError(message);
  return false;
}

void Connection::sendMany(const std::vector<Text>& commands) {
  Text lines;
  for (const Text& c : commands) lines += c;
  keepReplies_ = true;
  send(lines);
  keepReplies_ = false;
}

void Connection::closeOrderly() {
  sayCloseNotify();
  if (sock_ != kNoSocket) t_.api_.close(sock_);
  sock_ = kNoSocket;
  armed_ = 0;
  phase_ = Phase::Closed;
  t_.api_.unhookBlockingHook();
  if (wsaStarted_) t_.api_.cleanup();
  wsaStarted_ = false;
  handOn();
}

void Connection::fail(const Text& message, bool closeNow) {
  // What is said on the connection is settled before the box goes up: its
  // modal loop goes on delivering this connection's notifications, and a
  // session still waiting for something (a greeting after a refused STLS)
  // must find nothing left to answer but its QUIT.
  if (closeNow || !connected()) {
    close();  // asking for QUIT again would only repeat the failure
  } else {
    session_->quit();
    // Where TLS never came up, nothing the server says is worth waiting
    // for: the QUIT was the last word.
    if (wantsTls() && tlsStage_ != TlsStage::Ready) close();
  }
  if (current()) t_.events_.reportError(message);
  // While the box was open the cycle may have moved on: then this
  // connection's ending is nobody's business.
  if (!current()) return;
  t_.events_.sessionFailed();
  handOn();
}

void Connection::dispatch(int error, int event) {
  t_.events_.activity();
  if (event == kFdClose && (phase_ == Phase::Reading || phase_ == Phase::Writing)) {
    peerClosed(error);
    return;
  }
  switch (phase_) {
    case Phase::Connecting:
      if (error != 0) {
        connectFailed(error);
        return;
      }
      armRead();
      phase_ = Phase::Reading;
      if (tls_) connectedTls();
      break;
    case Phase::Writing:
      // Whatever this notification was about is not read here; setting the
      // mask again has Windows Sockets post a read notification for data
      // that is waiting.
      armed_ = 0;
      armRead();
      phase_ = Phase::Reading;
      break;
    case Phase::Reading:
      // A notification while bytes wait may be the write notification
      // they wait for: the socket takes what it can before anything is read.
      if (!unsent_.empty() && !flush()) return;
      ++receiving_;
      receiveStep();
      --receiving_;
      break;
    default:
      break;
  }
}

void Connection::connectFailed(int error) {
  // An address that refuses or cannot be reached: the host's next one (its
  // IPv4 address after an IPv6 one that leads nowhere) is tried.
  Text message = sockErrText(error);
  if (nextAddress_ < addresses_.size()) {
    const Text why = connectNext();
    if (isNoError(why) || !current()) return;
    message = why;
  }
  // The connection never came up: report it and let the cycle go on now
  // rather than after the time limit.
  close();
  if (!isNoError(message)) t_.events_.reportError(message);
  handOn();
}

bool Connection::receiveStep() {
  t_.pump_.doEvents();
  // A handler nested in the pumping may have closed or replaced the
  // connection; then there is nothing left to read here.
  if (!connected() || phase_ != Phase::Reading) {
    // This notification goes unanswered by a recv, so Windows Sockets
    // will not post another for data already waiting; the next arming
    // must set the mask again for that.
    armed_ = 0;
    return false;
  }
  auto& chunk = t_.recvChunk_;
  chunk.resize(Transport::kRecvSize);
  const int n = t_.api_.recv(sock_, chunk.data(), Transport::kRecvSize);
  if (n > 0 && tlsStage_ != TlsStage::None) {
    tlsReceived(std::string_view(chunk.data(), static_cast<std::size_t>(n)));
    return connected() && phase_ == Phase::Reading;
  }
  if (n > 0) {
    if (session_->held() + static_cast<std::size_t>(n) > t_.maxReplyBytes) {
      close();
      session_->failed(kReplyTooLarge);
      return false;
    }
    session_->bytesReceived(std::string_view(chunk.data(), static_cast<std::size_t>(n)));
    return connected() && phase_ == Phase::Reading;
  }
  if (n == 0) {
    endClosed(0);
    return false;
  }
  const int err = t_.api_.lastError();
  // Would-block only means another step took the data first.
  if (err > 0 && err != kWsaEWouldBlock) {
    const Text message = sockErrText(err);
    close();
    session_->failed(message);
  }
  return false;
}

void Connection::peerClosed(int error) {
  // Windows Sockets tells of the close once, and reads are not told of
  // after it: whatever the server sent before it is read here, to its end.
  unsent_.clear();
  phase_ = Phase::Reading;
  ++receiving_;
  while (receiveStep()) {
  }
  --receiving_;
  // A close that recv did not see (the data was taken, or the reset came
  // first): the notification itself is the end.
  if (connected() && phase_ == Phase::Reading) endClosed(error);
}

void Connection::endClosed(int error) {
  // The server hung up: the session need not wait out its time limit (the
  // answer to its QUIT or LOGOUT may be all that was missing).
  close();
  if (session_->quitSent())
    handOn();
  else
    session_->failed(error != 0 ? sockErrText(error) : Text(kClosedByServer));
}

// --- Transport -------------------------------------------------------------

Transport::Transport(SocketApi& api, Pump& pump, TransportEvents& events, SessionLog& log,
                     std::uint32_t firstTag)
    : api_(api), pump_(pump), events_(events), log_(log), firstTag_(firstTag), nextTag_(firstTag) {}

void Transport::logon(const AccountSettings& account, std::unique_ptr<Dialogue> session) {
  if (current_) current_->close();
  current_ = std::make_shared<Connection>(*this, account, std::move(session));
  current_->tag_ = newTag();
  // Held here as well: a handler nested in the pumping may replace it.
  auto c = current_;
  c->open();
}

std::uint32_t Transport::newTag() {
  const std::uint32_t tag = nextTag_++;
  if (nextTag_ == 0 || (nextTag_ & 0xFF000000u) != (firstTag_ & 0xFF000000u)) nextTag_ = firstTag_;
  return tag;
}

void Transport::abandon() {
  if (!current_) return;
  auto c = current_;
  c->handedOn_ = true;
  // A lookup still under way would connect for a session nobody waits for.
  if (c->phase_ == Phase::Resolving) {
    c->close();
    return;
  }
  // With no connection the QUIT could only fail, and every cycle would
  // start with an error box about a socket that never existed.
  if (c->connected() && !c->session().quitSent()) {
    c->session().quit();
    pump_.doEvents();
  }
}

void Transport::timeUp() {
  if (!current_) return;
  auto c = current_;
  if (c->phase_ == Phase::Resolving) {
    // The name was not found in time: said like a connect that timed out.
    c->close();
    events_.reportError(sockErrText(kWsaETimedOut));
    if (c->current()) events_.sessionFailed();
    c->handOn();
    return;
  }
  if (!c->session().quitSent()) {
    if (c->connected()) {
      c->session().quit();
      pump_.doEvents();
    } else {
      // The logon never made a connection and has said why: there is no
      // QUIT to send, and no second box about a socket that never was.
      c->close();
    }
  }
  c->handOn();
}

void Transport::onNotify(SocketHandle sock, std::uint32_t tag, int error, int event) {
  // Notifications of an earlier connection may still be queued; they are
  // not about this one, even where the system reused the socket handle.
  if (event == kFdWorkDone) {
    if (current_ && tag == current_->tag_ && current_->report_ && current_->connected()) {
      auto c = current_;
      c->certificateJudged();
    }
    return;
  }
  if (event == kFdResolved) {
    if (current_ && tag == current_->tag_ && current_->phase_ == Phase::Resolving) {
      auto c = current_;
      c->resolved(error);
    } else if ((tag & 0xFF000000u) == (firstTag_ & 0xFF000000u)) {
      // A lookup of this transport that outlived its connection. (The
      // notification goes to every transport; another's is left alone.)
      api_.resolved(tag);
    }
    return;
  }
  if (!current_ || sock == kNoSocket || sock != current_->sock_ || tag != current_->tag_) return;
  auto c = current_;
  if (c->phase_ == Phase::Reading && c->receiving_ >= kMaxNesting) {
    c->deferred_ = true;
    if (event == kFdClose) c->deferredClose_ = error;
    return;
  }
  c->dispatch(error, event);
  if (c->receiving_ == 0) {
    while (c->deferred_ && c->connected()) {
      c->deferred_ = false;
      c->dispatch(0, kFdRead);
    }
    c->deferred_ = false;
    if (c->deferredClose_ && c->connected()) c->dispatch(*c->deferredClose_, kFdClose);
    c->deferredClose_.reset();
  }
}

}  // namespace tarvi
