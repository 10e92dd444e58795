#include "settings/connection_test.h"

#include <algorithm>
#include <memory>
#include <string_view>
#include <vector>

#include "common/base64.h"
#include "common/cp932.h"
#include "common/imap_response.h"
#include "common/tls_policy.h"
#include "settings/options_model.h"

namespace tarvi::settings {
namespace {

// A reply line longer than this is no POP3 reply (nor a response the IMAP
// test asks for); the test stops rather than collect a misbehaving server's
// endless bytes.
constexpr std::size_t kMaxLine = 64 * 1024;

const char16_t* const kTooLong = u"ｻｰﾊﾞの応答が長すぎます";
const char16_t* const kStartTlsRefused = u"ｻｰﾊﾞがSTARTTLSを受け付けませんでした。ﾊﾟｽﾜｰﾄﾞは送っていません";
const char16_t* const kBadResponse = u"ｻｰﾊﾞの応答に誤りがあります";
const char16_t* const kNoLogonOffered = u"ｻｰﾊﾞが使えるﾛｸﾞｲﾝ方法を示していません(LOGINDISABLED)。ﾊﾟｽﾜｰﾄﾞは送っていません";
const char16_t* const kUnsendable = u"ﾕｰｻﾞｰ名かﾊﾟｽﾜｰﾄﾞにIMAPで送れない文字が含まれています(ｻｰﾊﾞにAUTH=PLAINがありません)";

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
      if (plain_.size() > kMaxLine) return fail(kTooLong);
      if (!receive()) return false;
    }
  }

  // Every plain byte that has come, at least one; false (failure set) when
  // none came.
  bool readBytes(std::string& into) {
    if (plain_.empty() && !receive()) return false;
    into += plain_;
    plain_.clear();
    return true;
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

// Judged right after the handshake, before a word of the logon is sent.
bool certificateOk(Channel& ch, ConnectionTestResult& r, const ConnectionTestInput& in) {
  r.cert = ch.tls()->certificate();
  r.certAccepted = certificateAccepted(*r.cert, in.pin);
  r.pinned = r.certAccepted && !certificateAccepted(*r.cert, "");
  return r.certAccepted || ch.fail(certificateRefusedMessage(*r.cert));
}

// The IMAP side of the test: tagged commands, each read to its completion
// with the response reader both programs use.
class ImapTalk {
 public:
  // "NO [AUTHENTICATIONFAILED] Authentication failed." as the server said it.
  static Text said(const imap::Response& r) {
    std::string line = r.name;
    if (!r.code.empty()) line += " [" + r.code + "]";
    if (!r.text.empty()) line += " " + r.text;
    return cp932::decode(line);
  }

  ImapTalk(Channel& ch, ConnectionTestResult& r) : ch_(ch), r_(r) {}

  // The greeting: true for OK or PREAUTH (then `preauth`).
  bool greeting(bool& preauth) {
    imap::Response g;
    if (!next(g)) return false;
    take(g);
    preauth = g.name == "PREAUTH";
    if (g.kind == imap::Response::Kind::Untagged && (g.name == "OK" || preauth)) return true;
    if (g.kind == imap::Response::Kind::Untagged && g.name == "BYE") {
      r_.refusal = said(g);
      return false;
    }
    return ch_.fail(kBadResponse);
  }

  // Sends the next tagged command and reads up to its completion, which is
  // left in `done`. `response` answers the server's "+" (the logon's).
  bool command(const std::string& text, imap::Response& done, std::string response = "") {
    const std::string tag = "a" + std::to_string(++tags_);
    const bool authenticating = !response.empty();
    if (!ch_.sendLine(tag + " " + text)) return false;
    for (;;) {
      if (!next(done)) return false;
      take(done);
      switch (done.kind) {
        case imap::Response::Kind::Continuation:
          if (!authenticating) return ch_.fail(kBadResponse);
          // Asked once more, the exchange is cancelled ("*").
          if (!ch_.sendLine(response.empty() ? "*" : response)) return false;
          response.clear();
          continue;
        case imap::Response::Kind::Untagged:
          // The server is closing on us; LOGOUT's BYE is expected.
          if (done.name == "BYE" && text != "LOGOUT") {
            r_.refusal = said(done);
            return false;
          }
          continue;
        case imap::Response::Kind::Tagged:
          return done.tag == tag || ch_.fail(kBadResponse);
      }
    }
  }

  // A command whose NO or BAD ends the test with the server's words.
  bool command(const std::string& text) {
    imap::Response done;
    if (!command(text, done)) return false;
    if (done.name == "OK") return true;
    r_.refusal = said(done);
    logout();
    return false;
  }

  // LOGIN where the server allows it and quoted strings carry the bytes,
  // else AUTHENTICATE PLAIN where offered; never LOGIN under LOGINDISABLED.
  bool logon(const ConnectionTestInput& in) {
    const std::string user = cp932::encode(in.user), password = cp932::encode(in.password);
    const auto quotedUser = imap::quoted(user), quotedPassword = imap::quoted(password);
    const bool loginDisabled = offered("LOGINDISABLED");
    imap::Response done;
    bool answered;
    if (!loginDisabled && quotedUser && quotedPassword) {
      caps_.reset();  // what the server offers after the logon comes with it, or is asked
      answered = command("LOGIN " + *quotedUser + " " + *quotedPassword, done);
    } else if (offered("AUTH=PLAIN")) {
      caps_.reset();
      answered = command("AUTHENTICATE PLAIN", done, encodeBase64(std::string(1, '\0') + user + '\0' + password));
    } else {
      ch_.fail(loginDisabled ? kNoLogonOffered : kUnsendable);
      logout();
      return false;
    }
    if (!answered) return false;
    if (done.name == "OK") return true;
    r_.logonRefused = true;
    r_.refusal = said(done);
    logout();
    return false;
  }

  // TLS is starting: nothing the server said in the clear counts any more.
  void forget() {
    reader_ = imap::Reader(kMaxLine, kMaxLine);
    caps_.reset();
  }

  bool knowsCapabilities() const { return caps_.has_value(); }
  bool offered(std::string_view name) const {
    return caps_ && std::find(caps_->begin(), caps_->end(), name) != caps_->end();
  }

  void logout() {
    imap::Response done;
    command("LOGOUT", done);
  }

 private:
  bool next(imap::Response& out) {
    for (;;) {
      out = {};
      switch (reader_.next(out)) {
        case imap::Reader::Status::Ready: return true;
        case imap::Reader::Status::Malformed: return ch_.fail(kBadResponse);
        case imap::Reader::Status::TooLarge: return ch_.fail(kTooLong);
        case imap::Reader::Status::NeedMore: break;
      }
      std::string bytes;
      if (!ch_.readBytes(bytes)) return false;
      reader_.feed(bytes);
    }
  }

  void take(const imap::Response& r) {
    auto atoms = imap::capabilities(r);
    if (!atoms.empty()) caps_ = std::move(atoms);
  }



  Channel& ch_;
  ConnectionTestResult& r_;
  imap::Reader reader_{kMaxLine, kMaxLine};
  std::optional<std::vector<std::string>> caps_;
  int tags_ = 0;
};

void runImapTest(const ConnectionTestInput& in, Channel& ch, ConnectionTestResult& r, TlsFactory& tls,
                 const std::string& host) {
  ImapTalk talk(ch, r);
  if (in.tlsMode == kImplicitTls && (!ch.startTls(host, tls) || !certificateOk(ch, r, in))) return;
  bool preauth = false;
  if (!talk.greeting(preauth)) return;
  if (in.tlsMode == kStartTls) {
    // Logged on in the clear already, the session can no longer be secured.
    if (preauth) {
      ch.fail(kStartTlsRefused);
      talk.logout();
      return;
    }
    imap::Response done;
    if (!talk.command("CAPABILITY") || !talk.command("STARTTLS", done)) return;
    if (done.name != "OK") {
      ch.fail(kStartTlsRefused);
      talk.logout();
      return;
    }
    talk.forget();
    if (!ch.startTls(host, tls) || !certificateOk(ch, r, in)) return;
  }
  if (!talk.command("CAPABILITY")) return;
  if (in.tokenSignIn && !preauth) {
    r.logonSkipped = true;
    talk.logout();
    return;
  }
  if (!preauth && !talk.logon(in)) return;
  r.loggedOn = true;
  if (!talk.knowsCapabilities() && !talk.command("CAPABILITY")) return;
  r.offers = {talk.offered("IDLE"), talk.offered("MOVE"), talk.offered("UIDPLUS")};
  // A folder name mistyped in the editor shows here, not as a failing check.
  imap::Response opened;
  if (!talk.command("EXAMINE " + imap::mailboxArgument(in.folder), opened)) return;
  r.folderOpened = opened.name == "OK";
  if (!*r.folderOpened) r.refusal = talk.said(opened);
  talk.logout();
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
  in.protocol = form.protocol == kImap ? int{kImap} : int{kPop3};
  in.folder = form.folder;
  in.user = form.user;
  in.password = form.password;
  in.tokenSignIn = form.signIn != kPasswordSignIn;
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
  if (in.protocol == kImap) {
    runImapTest(in, ch, r, tls, host);
    return finish();
  }
  if (in.tlsMode == kImplicitTls && !ch.startTls(host, tls)) return finish();
  if (!ch.readLine(reply)) return finish();
  if (!isOk(reply)) {
    r.refusal = reply;
    return finish();
  }
  if (in.tlsMode == kStartTls) {
    if (!command(ch, r, "STLS", reply)) {
      if (!r.refusal.empty()) {
        ch.fail(kStartTlsRefused);
        quit(ch);
      }
      return finish();
    }
    if (!ch.startTls(host, tls)) return finish();
  }
  if (ch.tls() && !certificateOk(ch, r, in)) return finish();
  if (in.tokenSignIn) {
    r.logonSkipped = true;
    quit(ch);
    return finish();
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
  if (r.logonSkipped) {
    line(u"ﾛｸﾞｵﾝ: ﾄｰｸﾝでｻｲﾝｲﾝするｱｶｳﾝﾄのため試していません");
  } else if (r.loggedOn) {
    line(u"ﾛｸﾞｵﾝ: 成功");
  } else if (r.logonRefused) {
    line(u"ﾛｸﾞｵﾝ: 拒否されました: " + r.refusal);
  }
  if (!r.logonRefused && !r.refusal.empty()) {
    line(u"ｻｰﾊﾞの返事: " + r.refusal);
  }
  if (r.messages) line(u"ﾒｯｾｰｼﾞ数: " + decimal(*r.messages));
  if (r.offers) {
    auto offer = [](const char16_t* name, bool has) { return Text(name) + (has ? u": あり" : u": なし"); };
    line(offer(u"IDLE", r.offers->idle) + u" / " + offer(u"MOVE", r.offers->move) + u" / " +
         offer(u"UIDPLUS", r.offers->uidPlus));
  }
  if (r.folderOpened) {
    const Text folder = in.folder.empty() ? Text(u"INBOX") : in.folder;
    line(u"ﾌｫﾙﾀﾞ: " + folder + (*r.folderOpened ? u" (開けました)" : u" (開けませんでした)"));
  }
  if (!r.failure.empty()) line(r.failure);
  return t;
}

}  // namespace tarvi::settings
