#include "settings/connection_test.h"

#include <memory>

#include "common/cp932.h"
#include "common/tls_policy.h"
#include "settings/options_model.h"

namespace tarvi::settings {
namespace {

// A reply line longer than this is no POP3 reply; the test stops rather
// than collect a misbehaving server's endless bytes.
constexpr std::size_t kMaxLine = 64 * 1024;

const char16_t* linkProblem(TestLink::Status s) {
  switch (s) {
    case TestLink::Status::NotFound:
      return u"ﾎｽﾄが見つかりません";
    case TestLink::Status::Refused:
      return u"接続を拒否されました";
    case TestLink::Status::TimedOut:
      return u"時間内に応答がありませんでした";
    case TestLink::Status::Closed:
      return u"ｻｰﾊﾞが接続を切りました";
    case TestLink::Status::Ok:
    case TestLink::Status::Failed:
      break;
  }
  return u"通信できませんでした";
}

// The link with TLS under it once a handshake has been made: lines out,
// lines in, whatever the records' cuts.
class Channel {
 public:
  Channel(TestLink& link, ConnectionTestResult& r) : link_(link), r_(r) {}

  bool sendLine(const std::string& line) {
    std::string bytes = line + "\r\n";
    if (tls_) {
      std::string sealed;
      if (!tls_->encrypt(bytes, sealed)) return fail(tls_->lastError());
      bytes.swap(sealed);
    }
    return sendRaw(bytes);
  }

  // The next reply line without its line end; false (failure set) when
  // none came.
  bool readLine(Text& line) {
    for (;;) {
      const auto eol = plain_.find('\n');
      if (eol != std::string::npos) {
        std::string raw = plain_.substr(0, eol);
        plain_.erase(0, eol + 1);
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        line = cp932::decode(raw);
        return true;
      }
      if (plain_.size() > kMaxLine) return fail(u"ｻｰﾊﾞの応答が長すぎます");
      if (!receive()) return false;
    }
  }

  // TLS from here on. Bytes already received stay and are read as TLS.
  bool startTls(const std::string& host, TlsFactory& factory) {
    tls_ = factory.create();
    r_.tlsUsed = true;
    sealed_ += plain_;  // nothing, unless the server ran ahead of the handshake
    plain_.clear();
    std::string out;
    TlsStatus s = tls_->start(host, out);
    bool first = true;
    while (s == TlsStatus::NeedMore) {
      // What the engine has to say goes out before we wait for the
      // server: it may be waiting for just that.
      if (!out.empty() && !sendRaw(out)) return false;
      out.clear();
      if (!(first && !sealed_.empty()) && !receiveRaw()) return false;
      first = false;
      s = tls_->handshake(sealed_, out);
    }
    if (!out.empty() && !sendRaw(out)) return false;
    if (s != TlsStatus::Done) return fail(tlsError(u"TLSの接続に失敗しました"));
    r_.protocol = tls_->protocol();
    return true;
  }

  TlsEngine* tls() { return tls_.get(); }

  // Ends TLS politely (when there is TLS) and closes.
  void close() {
    if (tls_) {
      std::string bye;
      tls_->shutdown(bye);
      if (!bye.empty()) link_.send(bye);
    }
    link_.close();
  }

  bool fail(const Text& why) {
    if (r_.failure.empty()) r_.failure = why;
    return false;
  }

 private:
  Text tlsError(const Text& fallback) {
    const Text e = tls_->lastError();
    return e.empty() ? fallback : e;
  }

  bool sendRaw(const std::string& bytes) {
    const TestLink::Status s = link_.send(bytes);
    return s == TestLink::Status::Ok || fail(linkProblem(s));
  }

  bool receiveRaw() {
    const TestLink::Status s = link_.receive(sealed_);
    return s == TestLink::Status::Ok || fail(linkProblem(s));
  }

  // More plain bytes: straight from the link, or decrypted from records.
  bool receive() {
    if (!tls_) {
      const TestLink::Status s = link_.receive(plain_);
      return s == TestLink::Status::Ok || fail(linkProblem(s));
    }
    for (;;) {
      const std::size_t had = plain_.size();
      const TlsStatus s = tls_->decrypt(sealed_, plain_);
      if (s == TlsStatus::Failed) return fail(tlsError(u"受信したﾃﾞｰﾀを復号できませんでした"));
      if (s == TlsStatus::Closed) return fail(u"ｻｰﾊﾞがTLSの接続を閉じました");
      if (plain_.size() > had) return true;
      if (!receiveRaw()) return false;
    }
  }

  TestLink& link_;
  ConnectionTestResult& r_;
  std::unique_ptr<TlsEngine> tls_;
  std::string sealed_;  // received records not yet decrypted
  std::string plain_;   // plain bytes not yet read as lines
};

bool isOk(const Text& line) { return line.rfind(u"+OK", 0) == 0; }

// "+OK 3 1024" -> 3
std::optional<long long> statCount(const Text& line) {
  if (!isOk(line)) return std::nullopt;
  std::size_t at = 3;
  while (at < line.size() && line[at] == u' ') ++at;
  std::size_t end = at;
  while (end < line.size() && line[end] >= u'0' && line[end] <= u'9') ++end;
  if (end == at) return std::nullopt;
  return parseInteger(TextView(line).substr(at, end - at), 0, INT64_MAX);
}

// A command whose -ERR ends the test with the server's words.
bool command(Channel& ch, ConnectionTestResult& r, const std::string& line, Text& reply) {
  if (!ch.sendLine(line) || !ch.readLine(reply)) return false;
  if (isOk(reply)) return true;
  r.refusal = reply;
  return false;
}

void quit(Channel& ch) {
  Text bye;
  if (ch.sendLine("QUIT")) ch.readLine(bye);
}

}  // namespace

std::optional<ConnectionTestInput> connectionTestInput(const AccountForm& form, Text& why) {
  const auto port = parsePortText(form.port);
  if (form.host.empty()) {
    why = u"ﾒｰﾙｻｰﾊﾞを入れてください";
    return std::nullopt;
  }
  if (!port || *port < 1) {
    why = u"ﾎﾟｰﾄ番号が正しくありません";
    return std::nullopt;
  }
  if (why = accountFormProblem(form); !why.empty()) return std::nullopt;
  ConnectionTestInput in;
  in.host = form.host;
  in.port = *port;
  in.tlsMode = (form.tlsMode == kImplicitTls || form.tlsMode == kStartTls) ? form.tlsMode : int{kPlain};
  in.user = form.user;
  in.password = form.password;
  in.pin = usablePin(form.tlsPin, form.tlsPinFor, in.host, in.port, in.tlsMode);
  return in;
}

ConnectionTestResult runConnectionTest(const ConnectionTestInput& in, TestLink& link, TlsFactory& tls) {
  ConnectionTestResult r;
  r.connect = link.connect(cp932::encode(in.host), in.port);
  const std::string host = tlsHostName(in.host);
  if (r.connect != TestLink::Status::Ok) {
    r.failure = linkProblem(r.connect);
    link.close();
    return r;
  }
  Channel ch(link, r);
  Text reply;
  auto finish = [&] {
    ch.close();
    return r;
  };
  if (in.tlsMode == kImplicitTls && !ch.startTls(host, tls)) return finish();
  if (!ch.readLine(reply)) return finish();
  if (!isOk(reply)) {
    r.refusal = reply;
    return finish();
  }
  if (in.tlsMode == kStartTls) {
    if (!command(ch, r, "STLS", reply)) {
      if (!r.refusal.empty()) {
        ch.fail(u"ｻｰﾊﾞがSTARTTLSを受け付けませんでした。ﾊﾟｽﾜｰﾄﾞは送っていません");
        quit(ch);
      }
      return finish();
    }
    if (!ch.startTls(host, tls)) return finish();
  }
  if (ch.tls()) {
    r.cert = ch.tls()->certificate();
    r.certAccepted = certificateAccepted(*r.cert, in.pin);
    r.pinned = r.certAccepted && !certificateAccepted(*r.cert, "");
    if (!r.certAccepted) {
      ch.fail(certificateRefusedMessage(*r.cert));
      return finish();
    }
  }
  if (!command(ch, r, "USER " + cp932::encode(in.user), reply) ||
      !command(ch, r, "PASS " + cp932::encode(in.password), reply)) {
    r.logonRefused = !r.refusal.empty();
    if (r.logonRefused) quit(ch);
    return finish();
  }
  r.loggedOn = true;
  if (!command(ch, r, "STAT", reply)) {
    if (!r.refusal.empty()) quit(ch);
    return finish();
  }
  r.messages = statCount(reply);
  quit(ch);
  return finish();
}

Text connectionTestReport(const ConnectionTestInput& in, const ConnectionTestResult& r) {
  Text t;
  auto line = [&t](const Text& s) {
    if (!t.empty()) t += u"\r\n";
    t += s;
  };
  const Text where = in.host + u":" + decimal(in.port);
  if (r.connect != TestLink::Status::Ok) {
    line(u"接続: できませんでした (" + where + u")");
    line(r.failure);
    return t;
  }
  line(u"接続: 成功 (" + where + u")");
  if (!r.tlsUsed) {
    line(u"暗号化: なし");
  } else if (r.protocol.empty()) {
    line(u"暗号化: できませんでした");
  } else {
    line(u"暗号化: " + r.protocol);
  }
  if (r.cert) {
    const CertificateReport& c = *r.cert;
    if (!c.present) {
      line(u"証明書: " + certificateProblems(c));
    } else {
      if (r.pinned)
        line(u"証明書: 受け入れ済みの証明書です");
      else if (r.certAccepted)
        line(u"証明書: 問題ありません");
      else
        line(u"証明書: 問題があります");  // which, below: the test stopped at it
      line(u"  発行先: " + c.subject);
      line(u"  発行者: " + c.issuer);
      line(u"  有効期間: " + c.validFrom + u" - " + c.validTo);
      line(u"  SHA-256: " + ascii(c.sha256));
    }
  }
  if (r.loggedOn) {
    line(u"ﾛｸﾞｵﾝ: 成功");
  } else if (r.logonRefused) {
    line(u"ﾛｸﾞｵﾝ: 拒否されました: " + r.refusal);
  }
  if (!r.logonRefused && !r.refusal.empty()) {
    line(u"ｻｰﾊﾞの返事: " + r.refusal);
  }
  if (r.messages) line(u"ﾒｯｾｰｼﾞ数: " + decimal(*r.messages));
  if (!r.failure.empty()) line(r.failure);
  return t;
}

}  // namespace tarvi::settings
