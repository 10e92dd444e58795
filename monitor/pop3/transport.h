// The one POP3 connection of the monitor: opening it (`logon`), sending a
// command line (`subSend`), ending the dialogue (`subDisConn`), the
// notifications dispatched by connection phase, the receive step and the
// error box. The sessions (check, retrieve, delete) plug in as handlers of
// their SessionKind and read the reply in progress from `recvBuf`.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "common/text.h"
#include "monitor/desktop/mail_form.h"
#include "monitor/pop3/reply_buffer.h"
#include "monitor/pop3/socket_api.h"

namespace tarvi {

class SessionHandler {
 public:
  virtual ~SessionHandler() = default;
  // A chunk has been appended to the transport's recvBuf.
  virtual void onReceived() = 0;
  // The connection failed under the session (receive error, reply too
  // large, connect refused); the socket is already closed.
  virtual void onFailure(const Text& message) = 0;
};

// Connection phases.
enum Phase : int { kClosed = 0, kConnecting = 1, kReading = 3, kWriting = 4 };

class Transport {
 public:
  // One reply may not grow beyond this. A TOP reply is a few kilobytes; a
  // whole message with attachments is rarely above 35 MB before Base64
  // (the largest limits of common mail services) and 48 MB after it, so
  // 64 MiB refuses no real message, and a server that never ends its reply
  // cannot take more than that.
  static constexpr std::size_t kMaxReplyBytes = 64u << 20;
  // One recv takes what has arrived, up to this: a reply that came in
  // several segments is read in one step rather than one notification per
  // 4 KB.
  static constexpr int kRecvSize = 64 * 1024;
  // Receive steps nest through the message pumping inside them; deeper
  // notifications wait for the outermost step, so that a fast server cannot
  // grow the stack with every reply.
  static constexpr int kMaxNesting = 4;

  Transport(SocketApi& api, MailForm& form);

  void setHandler(SessionKind kind, SessionHandler* handler) {
    handlers_[static_cast<int>(kind)] = handler;
  }

  // Asked before every logon; false abandons it (the dial-up rules).
  std::function<bool()> gate;

  void logon(SessionKind mode);
  void subSend(const Text& command);  // the command ends in CR LF
  void subDisConn();
  void ShowMsg(const Text& text);
  std::uint32_t GetHostAddr(const Text& host);
  void restartTimeup();

  // A steady clock in milliseconds. When it is set, restartTimeup only
  // notes the time of the notification, and the tick of timeuptimer asks
  // timeupElapsed() whether the interval has really passed since then.
  std::function<std::uint64_t()> clock;
  // False when the tick came within one interval of the last notification
  // (the timer then ticks again one interval after that notification);
  // true for a tick that counts.
  bool timeupElapsed();

  // A notification from the window of `kind` for `sock`. `error` is the
  // error code the notification carries (0 for none).
  void onNotify(SocketHandle sock, int error = 0);

  // Re-arms the read notification.
  void armRead();
  int phase() const { return phase_[static_cast<int>(sessionKind)]; }
  void setPhase(int p) { phase_[static_cast<int>(sessionKind)] = p; }

  // The reply to QUIT was an acceptance: close and hand the session on.
  void orderlyClose();
  // The failure ending every session shares: the message is shown (as the
  // error option allows); when `closeNow` (QUIT itself failed) or the
  // connection is gone, the socket is closed with `closedState` as the last
  // state, otherwise QUIT is sent; then the session is handed on.
  void failureEnding(const Text& message, bool closeNow, int closedState);
  // Closes the socket and ends Windows Sockets, if open.
  void closeConnection();
  // Enables the continuation timer of the session kind, once per session:
  // a late QUIT reply after the time limit must not move the cycle twice.
  void handOn();
  // The session is no longer anybody's to hand on (a new cycle replaced it).
  void forgetSession() { handedOn_ = true; }
  bool handedOn() const { return handedOn_; }
  TimerId continuationTimer() const;
  bool connected() const { return hSock != kNoSocket; }

  SessionKind sessionKind = SessionKind::Check;
  int sockState = 0;
  Text lastCmd;
  ReplyBuffer recvBuf;
  Text logText;
  SocketHandle hSock = kNoSocket;
  std::size_t maxReplyBytes = kMaxReplyBytes;

  MailForm& form;

 private:
  void select(int events);
  void restoreTimeup();
  void dispatch(int error);
  void receiveStep();
  void connectFailed(int error);
  SessionHandler* handler() const { return handlers_[static_cast<int>(sessionKind)]; }

  SocketApi& api_;
  std::array<SessionHandler*, kSessionKinds> handlers_{};
  std::array<int, kSessionKinds> phase_{};
  bool wsaStarted_ = false;
  bool handedOn_ = true;
  int receiving_ = 0;
  bool deferred_ = false;
  int armed_ = 0;  // the event mask set on hSock, 0 when it must be set again
  std::uint64_t lastActivity_ = 0;  // clock() of the last restartTimeup
  bool haveActivity_ = false;
  bool shortened_ = false;          // timeuptimer runs a remainder
  std::uint32_t fullTimeup_ = 0;    // its interval otherwise
  std::vector<char> recvChunk_;
};

inline constexpr const char16_t* kReplyTooLarge = u"受信ﾃﾞｰﾀが上限を超えたため、接続を中止しました";

// Reply status from the first four characters of a reply.
enum class ReplyStatus { Accepted, Refused, Other };
ReplyStatus replyStatus(std::string_view reply);

}  // namespace tarvi
