// TLS under a connection's session. The engine sits between the socket and
// the reply buffer: what is received goes through it (the negotiation, then
// the decryption) and what is sent comes out of it as records, so the check,
// retrieve and delete dialogues read and write plain text as ever. Nothing
// of the user's (not even the user name) is sent before the server's
// certificate has been accepted.
#include "common/tls_policy.h"
#include "common/cp932.h"
#include "monitor/net/transport.h"

namespace tarvi {

Text Connection::prepareTls() {
  if (account_.tlsMode == kPlain) return {};
  // Only plain text that was asked for is plain text.
  if (account_.tlsMode != kImplicitTls && account_.tlsMode != kStartTls) return kTlsModeDamaged;
  if (t_.tls) tls_ = t_.tls->create();
  if (!tls_) return kTlsUnavailable;
  tlsStage_ = account_.tlsMode == kImplicitTls ? TlsStage::Handshake : TlsStage::Greeting;
  return {};
}

void Connection::connectedTls() {
  if (tlsStage_ == TlsStage::Handshake) beginHandshake();
}

std::optional<std::string> Connection::wire(std::string plain) {
  if (tlsStage_ != TlsStage::Ready) return plain;
  std::string records;
  if (!tls_->encrypt(plain, records)) return std::nullopt;
  return records;
}

void Connection::sayCloseNotify() {
  const bool negotiated = tlsStage_ == TlsStage::Ready || tlsStage_ == TlsStage::Checking;
  // While its certificate is judged on another thread the engine is that
  // thread's: the socket closes without the courtesy.
  if (!negotiated || sock_ == kNoSocket || report_) return;
  std::string bye;
  tls_->shutdown(bye);
  // A courtesy: the socket closes next whether the server hears it or not.
  if (!bye.empty()) t_.api_.send(sock_, bye);
}

void Connection::tlsFailed(const Text& message) {
  // The engine's own account of the failure says which step failed and why.
  const Text why = tls_ ? tls_->lastError() : Text();
  close();
  session_->failed(why.empty() ? message : why);
}

void Connection::tlsReceived(std::string_view bytes) {
  const bool plain = tlsStage_ == TlsStage::Greeting || tlsStage_ == TlsStage::StlsSent;
  std::string& in = plain ? plainIn_ : cipherIn_;
  // Before the negotiation the lines read are passed over, not kept, so
  // the cap counts what came in all.
  if (plain) plainSeen_ += bytes.size();
  if ((plain ? plainSeen_ : in.size() + bytes.size()) > t_.maxReplyBytes) {
    close();
    session_->failed(kReplyTooLarge);
    return;
  }
  in.append(bytes);
  switch (tlsStage_) {
    case TlsStage::Greeting:
    case TlsStage::StlsSent:
      startTlsStep();
      break;
    case TlsStage::Handshake:
      handshakeStep();
      break;
    case TlsStage::Ready:
      deliver(std::string());
      break;
    default:
      // Checking: the step that judges the certificate takes these on
      // once it has, from the buffer.
      break;
  }
}

void Connection::startTlsStep() {
  // Lines are read from `at` on and what was read goes in one erase, so
  // that a server's chatter costs time in proportion to its length.
  std::size_t at = 0;
  for (;;) {
    const std::size_t lf = plainIn_.find('\n', at);
    if (lf == std::string::npos) {
      plainIn_.erase(0, at);
      return;
    }
    const std::string line = plainIn_.substr(at, lf + 1 - at);
    at = lf + 1;
    const Dialogue::ClearLine said =
        tlsStage_ == TlsStage::Greeting ? session_->greetingLine(line) : session_->startTlsAnswer(line);
    switch (said) {
      case Dialogue::ClearLine::Chatter:  // a server's chatter, as the sessions pass it over
        continue;
      case Dialogue::ClearLine::Refused:
        if (tlsStage_ == TlsStage::Greeting) {
          // The server will not talk at all: the session sees its refusal
          // as on a plain connection, which sends no user name after it.
          tlsStage_ = TlsStage::None;
          const std::string rest = plainIn_.substr(at - line.size());
          plainIn_.clear();
          session_->bytesReceived(rest);
        } else {
          // Never on in the clear: the session ends, its QUIT in plain
          // text being all that is said.
          tlsStage_ = TlsStage::None;
          plainIn_.clear();
          session_->failed(kStlsRefused);
        }
        return;
      case Dialogue::ClearLine::Accepted:
        if (tlsStage_ == TlsStage::Greeting) {
          plainIn_.erase(0, at);
          greeting_ = line;
          tlsStage_ = TlsStage::StlsSent;
          const std::string ask = session_->startTlsCommand();
          t_.log_.command(session_->logged(cp932::decode(ask)));
          write(ask);
        } else if (at < plainIn_.size()) {
          // The server speaks only after our hello; whatever came with its
          // acceptance would be read as if it had come encrypted.
          plainIn_.clear();
          close();
          session_->failed(kStlsInjected);
        } else {
          plainIn_.clear();
          tlsStage_ = TlsStage::Handshake;
          beginHandshake();
        }
        return;
    }
  }
}

void Connection::beginHandshake() {
  std::string out;
  const TlsStatus status = tls_->start(tlsHostName(account_.host), out);
  if (status == TlsStatus::Failed) {
    tlsFailed(kTlsFailed);
    return;
  }
  if (!out.empty()) write(out);
}

void Connection::handshakeStep() {
  std::string out;
  const TlsStatus status = tls_->handshake(cipherIn_, out);
  if (status == TlsStatus::Failed || status == TlsStatus::Closed) {
    tlsFailed(kTlsFailed);
    return;
  }
  // From here until the certificate is accepted, steps nested in the
  // pumping of the send below only keep what they receive.
  if (status == TlsStatus::Done) tlsStage_ = TlsStage::Checking;
  if (!out.empty() && !write(out)) return;
  if (status != TlsStatus::Done || !connected()) return;
  // Building the chain may take a second, or fetch what is missing: not on
  // the window thread.
  report_ = std::make_shared<CertificateReport>();
  t_.api_.runWork([engine = tls_, report = report_] { *report = engine->certificate(); }, tag_);
}

void Connection::certificateJudged() {
  const CertificateReport cert = *report_;
  report_.reset();
  const std::string pin =
      usablePin(account_.tlsPin, account_.tlsPinFor, account_.host, account_.port, account_.tlsMode);
  if (!certificateAccepted(cert, pin)) {
    sayCloseNotify();
    close();
    session_->failed(certificateRefusedMessage(cert));
    return;
  }
  tlsStage_ = TlsStage::Ready;
  // STLS: the greeting came before the negotiation; the session reads it
  // now, as if it had just arrived.
  deliver(std::move(greeting_));
}

void Connection::deliver(std::string plain) {
  TlsStatus status = TlsStatus::Done;
  if (!cipherIn_.empty()) status = tls_->decrypt(cipherIn_, plain);
  if (status == TlsStatus::Failed) {
    tlsFailed(kTlsFailed);
    return;
  }
  if (!plain.empty()) {
    if (session_->held() + plain.size() > t_.maxReplyBytes) {
      close();
      session_->failed(kReplyTooLarge);
      return;
    }
    session_->bytesReceived(plain);
  }
  if (status != TlsStatus::Closed || !connected()) return;
  // The server ended TLS before the dialogue did (after QUIT's reply the
  // session has closed already).
  close();
  if (session_->quitSent())
    handOn();
  else
    session_->failed(kTlsClosedByServer);
}

}  // namespace tarvi
