#include "monitor/pop3/transport.h"

#include "common/cp932.h"
#include "monitor/pop3/sock_err.h"

namespace tarvi {
namespace {

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

Transport::Transport(SocketApi& api, MailForm& f) : form(f), api_(api) {}

TimerId Transport::continuationTimer() const {
  switch (sessionKind) {
    case SessionKind::Retrieve: return TimerId::retrtimer;
    case SessionKind::Delete: return TimerId::deltimer;
    default: return TimerId::logontimer;
  }
}

void Transport::ShowMsg(const Text& text) {
  if (form.opt.Option3value != 0) return;
  form.svc.dialogs.messageBox(text, kAppTitle, MsgButtons::Ok, MsgIcon::Critical);
}

std::uint32_t Transport::GetHostAddr(const Text& host) {
  const std::string bytes = cp932::encode(host);
  const std::uint32_t a = api_.inetAddr(bytes);
  if (a != 0xFFFFFFFFu) return a;
  return api_.resolve(bytes).value_or(0xFFFFFFFFu);
}

void Transport::restartTimeup() {
  // Only a running limit is restarted: a notification that comes after the
  // session was given up must not start the limit again.
  if (!form.timers.enabled(TimerId::timeuptimer)) return;
  if (clock) {
    // Setting a timer is a call into the window system, on the path of
    // every reply; noting the time is free, and the tick catches up.
    lastActivity_ = clock();
    haveActivity_ = true;
    return;
  }
  form.timers.disable(TimerId::timeuptimer);
  form.timers.enable(TimerId::timeuptimer);
}

bool Transport::timeupElapsed() {
  if (!clock) return true;
  const std::uint64_t now = clock();
  const std::uint32_t full = shortened_ ? fullTimeup_ : form.timers.interval(TimerId::timeuptimer);
  if (haveActivity_ && lastActivity_ + full > now) {
    // A notification came within the interval: had it restarted the
    // count, the tick would come one interval after it.
    fullTimeup_ = full;
    shortened_ = true;
    form.timers.setInterval(TimerId::timeuptimer, static_cast<std::uint32_t>(lastActivity_ + full - now));
    return false;
  }
  restoreTimeup();
  return true;
}

void Transport::restoreTimeup() {
  if (!shortened_) return;
  shortened_ = false;
  form.timers.setInterval(TimerId::timeuptimer, fullTimeup_);
}

void Transport::closeConnection() {
  if (hSock != kNoSocket) api_.close(hSock);
  hSock = kNoSocket;
  armed_ = 0;
  if (wsaStarted_) api_.cleanup();
  wsaStarted_ = false;
}

void Transport::handOn() {
  if (handedOn_) return;
  handedOn_ = true;
  form.timers.enable(continuationTimer());
}

void Transport::logon(SessionKind mode) {
  // The caller has just started the limit of the new session; it runs in
  // whole intervals again, from now.
  restoreTimeup();
  haveActivity_ = false;
  if (gate && !gate()) {
    form.timers.disable(TimerId::timeuptimer);
    form.timers.disable(TimerId::logontimer);
    return;
  }
  // A connection left over (the time limit or a new cycle sent QUIT on it
  // without waiting) is closed, so that no socket outlives its session.
  closeConnection();
  sessionKind = mode;
  setPhase(kClosed);
  sockState = 0;
  lastCmd.clear();
  recvBuf.clear();
  handedOn_ = false;

  const AccountSettings& a = form.cur;
  Text message;
  if (trimSpaces(a.Hname).empty() || trimSpaces(decimal(a.Portno)).empty()) {
    message = u"相手先が指定されていません";
  } else {
    api_.startup();
    wsaStarted_ = true;
    hSock = api_.open();
    if (hSock == kNoSocket) {
      message = u"ｿｹｯﾄ生成ができませんでした";
    } else {
      select(kFdConnect);
      const std::uint32_t addr = GetHostAddr(a.Hname);
      const int r = api_.connect(hSock, addr, static_cast<std::uint16_t>(a.Portno));
      const int err = r != 0 ? api_.lastError() : 0;
      setPhase(kConnecting);
      form.svc.pump.doEvents();
      if (r != 0 && err != kWsaEWouldBlock) {
        message = sockErrText(err);
      } else {
        form.svc.pump.doEvents();
        if (hSock != kNoSocket && api_.setNonBlocking(hSock) != 0)
          message = sockErrText(api_.lastError());
      }
    }
  }
  if (isNoError(message)) return;
  ShowMsg(message);
  closeConnection();
  setPhase(kClosed);
  sockState = 0;
}

void Transport::subSend(const Text& command) {
  if (form.opt.Option8value != 0) {
    if (command.find(u"PASS") != Text::npos)
      logText += u"PASS ******************************\r\n";
    else
      logText += command + u"\r\n";
  }
  recvBuf.clear();
  setPhase(kWriting);
  int r = -1;
  int err = kWsaENotSock;  // what sending on no socket gives on every system
  if (hSock != kNoSocket) {
    // A command line is a few bytes, which a non-blocking send takes whole
    // or refuses: once it returns, the write is over. Waiting for a write
    // notification to arm reading would cost two more calls into Windows
    // Sockets and a window message for every command, so reading is armed
    // (if it is not still) before the send, and the reply may be handled
    // as soon as the pumping below.
    armRead();
    r = api_.send(hSock, cp932::encode(command));
    err = r == -1 ? api_.lastError() : 0;
    if (r != -1) setPhase(kReading);
  }
  form.svc.pump.doEvents();
  if (r != -1) return;
  const Text message = sockErrText(err);
  closeConnection();
  if (!isNoError(message)) {
    ShowMsg(message);
    setPhase(kClosed);
  }
}

void Transport::subDisConn() {
  lastCmd.clear();
  sockState = 6;
  subSend(u"QUIT\r\n");
  form.svc.pump.doEvents();
}

void Transport::select(int events) {
  api_.select(hSock, sessionKind, events);
  armed_ = hSock != kNoSocket ? events : 0;
}

void Transport::armRead() {
  // Once armed, a read notification comes back after every recv that
  // leaves data behind and whenever new data arrives, so the mask need not
  // be set again for every command.
  if (armed_ == kFdRead) return;
  select(kFdRead);
}

void Transport::failureEnding(const Text& message, bool closeNow, int closedState) {
  ShowMsg(message);
  if (closeNow || !connected()) {
    // Asking for QUIT again would only repeat the failure.
    lastCmd.clear();
    sockState = closedState;
    closeConnection();
    setPhase(kClosed);
  } else {
    subDisConn();
  }
  handOn();
}

void Transport::orderlyClose() {
  setPhase(kClosed);
  if (hSock != kNoSocket) api_.close(hSock);
  hSock = kNoSocket;
  armed_ = 0;
  api_.unhookBlockingHook();
  if (wsaStarted_) api_.cleanup();
  wsaStarted_ = false;
  handOn();
}

void Transport::onNotify(SocketHandle sock, int error) {
  // Notifications of an earlier socket may still be queued; they are not
  // about this connection.
  if (sock != hSock || hSock == kNoSocket) return;
  if (phase() == kReading && receiving_ >= kMaxNesting) {
    deferred_ = true;
    return;
  }
  dispatch(error);
  if (receiving_ == 0) {
    while (deferred_ && hSock != kNoSocket) {
      deferred_ = false;
      dispatch(0);
    }
    deferred_ = false;
  }
}

void Transport::dispatch(int error) {
  restartTimeup();
  switch (phase()) {
    case kConnecting:
      if (error != 0) {
        connectFailed(error);
        return;
      }
      armRead();
      setPhase(kReading);
      break;
    case kWriting:
      // Whatever this notification was about is not read here; setting the
      // mask again has Windows Sockets post a read notification for data
      // that is waiting.
      armed_ = 0;
      armRead();
      setPhase(kReading);
      break;
    case kReading:
      ++receiving_;
      receiveStep();
      --receiving_;
      break;
    default:
      break;
  }
}

void Transport::connectFailed(int error) {
  // The connection never came up: report it and let the cycle go on now
  // rather than after the time limit.
  const Text message = sockErrText(error);
  closeConnection();
  setPhase(kClosed);
  sockState = 0;
  if (!isNoError(message)) ShowMsg(message);
  handOn();
}

void Transport::receiveStep() {
  form.svc.pump.doEvents();
  // A handler nested in the pumping may have closed or replaced the
  // connection; then there is nothing left to read here.
  if (hSock == kNoSocket || phase() != kReading) {
    // This notification goes unanswered by a recv, so Windows Sockets
    // will not post another for data already waiting; the next arming
    // must set the mask again for that.
    armed_ = 0;
    return;
  }
  recvChunk_.resize(kRecvSize);
  const int n = api_.recv(hSock, recvChunk_.data(), kRecvSize);
  if (n > 0) {
    if (recvBuf.size() + static_cast<std::size_t>(n) > maxReplyBytes) {
      closeConnection();
      if (auto* h = handler()) h->onFailure(kReplyTooLarge);
      return;
    }
    recvBuf.append(std::string_view(recvChunk_.data(), static_cast<std::size_t>(n)));
    if (auto* h = handler()) h->onReceived();
    return;
  }
  if (n == -1) {
    const int err = api_.lastError();
    // Would-block only means another step took the data first.
    if (err > 0 && err != kWsaEWouldBlock) {
      const Text message = sockErrText(err);
      closeConnection();
      if (auto* h = handler()) h->onFailure(message);
    }
  }
}

}  // namespace tarvi
