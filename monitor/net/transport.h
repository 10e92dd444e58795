// The monitor's mail server connections. One is current at a time; each is an
// object of its own that owns its socket, its phase, its reply buffer and
// the session that talks on it. A notification, a handler's return or a
// failure ending that belongs to a connection which is no longer current
// changes nothing of the current one: every operation of a connection is
// checked against that identity, so no flag need be tested in places.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/settings.h"
#include "common/text.h"
#include "common/tls.h"
#include "monitor/net/dialogue.h"
#include "monitor/net/reply_buffer.h"
#include "monitor/services/services.h"
#include "monitor/services/socket_api.h"

namespace tarvi {

class Transport;

// What the transport is handed besides the socket service: where errors go
// (the error-box option applies there), the sink for "the session ended",
// and where activity on the connection is noted (the session deadline).
class TransportEvents {
 public:
  virtual ~TransportEvents() = default;
  virtual void reportError(const Text& message) = 0;
  // The current connection's session is over (once per connection): the
  // dialogue ended, failed, or its time ran out.
  virtual void sessionEnded() = 0;
  // A failure ending has just been shown and handled.
  virtual void sessionFailed() {}
  // A notification for the current connection arrived.
  virtual void activity() {}
  // The server refused the token the logon sent (told before the failure
  // that follows): a token renewed now may still be taken.
  virtual void signInRefused() {}
};

// The session log of the popup's log button: the commands sent (the
// password masked) and what the sessions add of the replies.
struct SessionLog {
  bool enabled = false;
  Text text;
  void command(const Text& line);
  void add(const Text& text);
};

enum class Phase { Closed, Resolving, Connecting, Reading, Writing };

// Where an encrypted connection is before its session may talk on it.
enum class TlsStage {
  None,         // plain text: the session talks from the greeting on
  Greeting,     // STLS: waiting for the greeting, kept for the session
  StlsSent,     // STLS: waiting for the answer to it
  Handshake,    // the engine is negotiating
  Checking,     // negotiated; the certificate is being judged
  Ready,        // every byte goes through the engine
};

class Connection {
 public:
  Connection(Transport& transport, const AccountSettings& account, std::unique_ptr<Dialogue> session);
  ~Connection();

  // Sends one command line (ending in CR LF). On a connection that is no
  // longer current nothing is sent and nothing is reported.
  void send(const Text& command);
  // Sends several command lines in one write, for requests that are
  // pipelined: the replies received so far stay, since they answer
  // requests sent before.
  void sendMany(const std::vector<Text>& commands);
  // The reply to QUIT was an acceptance: close and hand the session on.
  void closeOrderly();
  // The failure ending every session shares: the message is shown (as the
  // error option allows); when `closeNow` (QUIT itself failed) or the
  // socket is gone, the connection is closed, otherwise QUIT is sent; then
  // the session is handed on.
  void fail(const Text& message, bool closeNow);
  // Closes the socket and ends Windows Sockets, if open.
  void close();
  // The server refused the logon's token (see TransportEvents).
  void signInRefused();

  bool current() const;
  bool connected() const { return current() && sock_ != kNoSocket; }
  const AccountSettings& account() const { return account_; }
  ReplyBuffer& replies() { return replies_; }
  SessionLog& log();
  Dialogue& session() { return *session_; }
  Phase phase() const { return phase_; }
  TlsStage tlsStage() const { return tlsStage_; }

 private:
  friend class Transport;
  void open();
  void select(int events);
  void armRead();
  void dispatch(int error, int event);
  // One recv and what it brings; true when bytes came and the dialogue
  // goes on reading.
  bool receiveStep();
  // The server closed or reset the connection (`error`): what it sent
  // before is read, then the dialogue ends now rather than at its limit.
  void peerClosed(int error);
  void endClosed(int error);
  void connectFailed(int error);
  // The lookup ended: its addresses are tried in turn.
  void resolved(int error);
  // Connects to the next address; "" when under way, else why not.
  Text connectNext();
  void handOn();

  // TLS (transport_tls.cpp). The session above sees plain bytes only.
  // Why the account cannot be connected as it asks ("" when it can).
  Text prepareTls();
  // The connect completed: implicit TLS negotiates from the first byte.
  void connectedTls();
  // Bytes received on an encrypted (or about to be) connection.
  void tlsReceived(std::string_view bytes);
  void startTlsStep();
  void beginHandshake();
  void handshakeStep();
  // The certificate's check ended (report_): the connection goes on or ends.
  void certificateJudged();
  // Decrypts what has come and hands it, after `plain`, to the session.
  void deliver(std::string plain);
  // Sends bytes as they are, pumping as a command's send does; what the
  // socket does not take at once waits in `unsent_` for the write
  // notification. False when the connection failed (closed and reported).
  bool write(const std::string& bytes);
  // Hands the socket what it will take of `unsent_`; false when the
  // connection failed (closed and reported).
  bool flush();
  // The account asks for TLS (or its mode is damaged): until TLS is up
  // nothing but QUIT may be said on this connection.
  bool wantsTls() const { return account_.tlsMode != kPlain; }
  // The session may not talk yet: the negotiation is under way.
  bool tlsBusy() const { return tlsStage_ != TlsStage::None && tlsStage_ != TlsStage::Ready; }
  // What goes on the wire for `plain`: the records that carry it under
  // TLS; nullopt when the engine failed.
  std::optional<std::string> wire(std::string plain);
  // Sends a close_notify without waiting, before a polite close.
  void sayCloseNotify();
  void tlsFailed(const Text& message);

  Transport& t_;
  AccountSettings account_;
  std::unique_ptr<Dialogue> session_;
  std::uint32_t tag_ = 0;
  SocketHandle sock_ = kNoSocket;
  Phase phase_ = Phase::Closed;
  ReplyBuffer replies_;
  bool wsaStarted_ = false;
  bool handedOn_ = false;
  int armed_ = 0;  // the event mask set on the socket, 0 when it must be set again
  int receiving_ = 0;
  bool deferred_ = false;
  std::optional<int> deferredClose_;  // the error of a close told while deferred
  // Shared with the check of its certificate, which runs off the window
  // thread and may outlive the connection.
  std::shared_ptr<TlsEngine> tls_;
  std::shared_ptr<CertificateReport> report_;  // filled by that check
  TlsStage tlsStage_ = TlsStage::None;
  std::string cipherIn_;  // received, not yet through the engine
  std::string plainIn_;   // STLS: the plain lines before the negotiation
  std::size_t plainSeen_ = 0;  // STLS: plain bytes received in all, capped
  std::string unsent_;    // bytes the socket has not taken yet
  std::vector<SocketAddress> addresses_;  // the host's, those after nextAddress_ untried
  std::size_t nextAddress_ = 0;
  int lastConnectError_ = 0;
  std::string greeting_;  // STLS: handed to the session once TLS is up
  bool keepReplies_ = false;  // sendMany: what was received stays
};

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

  // Tags count up from `firstTag`: transports that live side by side
  // (the cycle's, the push connections') are given ranges apart, so that a
  // notification is taken only by the connection it was selected for.
  Transport(SocketApi& api, Pump& pump, TransportEvents& events, SessionLog& log,
            std::uint32_t firstTag = 1);

  // Opens a new connection to `account` for `session`. A connection left
  // over is closed first, so that no socket outlives its session.
  void logon(const AccountSettings& account, std::unique_ptr<Dialogue> session);
  // A new run begins: the current connection is asked to QUIT when it is
  // open, and is no longer anybody's to hand on.
  void abandon();
  // The session's time ran out: QUIT unless it was sent already, then the
  // session is handed on.
  void timeUp();

  // A notification for `sock`, carrying the tag it was selected with, the
  // error code of the event (0 for none) and the event (kFdRead and so on).
  void onNotify(SocketHandle sock, std::uint32_t tag, int error = 0, int event = kFdRead);

  bool connected() const { return current_ && current_->connected(); }
  Connection* current() { return current_.get(); }

  std::size_t maxReplyBytes = kMaxReplyBytes;
  // Engines for accounts with TLS; null where there is none (tests of
  // plain accounts), and a TLS account then fails with a message.
  TlsFactory* tls = nullptr;

 private:
  friend class Connection;
  std::uint32_t newTag();
  SocketApi& api_;
  Pump& pump_;
  TransportEvents& events_;
  SessionLog& log_;
  std::shared_ptr<Connection> current_;
  std::uint32_t firstTag_;
  std::uint32_t nextTag_;
  std::vector<char> recvChunk_;
};

inline constexpr const char16_t* kStlsRefused = u"ｻｰﾊﾞがSTARTTLSを受け付けませんでした";
inline constexpr const char16_t* kTlsFailed = u"SSL/TLSの接続に失敗しました";
inline constexpr const char16_t* kTlsUnavailable = u"SSL/TLSが使えません";
inline constexpr const char16_t* kTlsModeDamaged =
    u"ｱｶｳﾝﾄの暗号化の設定が壊れているため、接続しませんでした。設定でｱｶｳﾝﾄを確認してください";
inline constexpr const char16_t* kTlsClosedByServer = u"ｻｰﾊﾞが暗号化された接続を閉じました";
inline constexpr const char16_t* kClosedByServer = u"ｻｰﾊﾞが接続を閉じました";
inline constexpr const char16_t* kReplyTooLarge = u"受信ﾃﾞｰﾀが上限を超えたため、接続を中止しました";
// Bytes that came with the acceptance of STLS, before the negotiation: no
// server sends them, so somebody on the way put them there.
inline constexpr const char16_t* kStlsInjected =
    u"STARTTLSの応答の後に不正なﾃﾞｰﾀが届いたため、接続を中止しました";

// Reply status from the first four characters of a reply.
enum class ReplyStatus { Accepted, Refused, Other };
ReplyStatus replyStatus(std::string_view reply);

}  // namespace tarvi
