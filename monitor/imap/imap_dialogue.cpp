#include "monitor/imap/imap_dialogue.h"

#include <algorithm>

#include "common/base64.h"
#include "common/cp932.h"
#include "common/sign_in.h"
#include "monitor/net/sock_err.h"

namespace tarvi {
namespace {

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
  return true;
}

}  // namespace

ImapCapabilities readCapabilities(const std::vector<std::string>& atoms) {
  ImapCapabilities c;
  c.known = true;
  for (const std::string& a : atoms) {
    if (a == "LOGINDISABLED") c.loginDisabled = true;
    if (a == "AUTH=PLAIN") c.authPlain = true;
    if (a == "AUTH=XOAUTH2") c.authXoauth2 = true;
    if (a == "AUTH=OAUTHBEARER") c.authOauthBearer = true;
    if (a == "SASL-IR") c.saslIr = true;
    if (a == "IDLE") c.idle = true;
    if (a == "MOVE") c.move = true;
    if (a == "UIDPLUS") c.uidPlus = true;
    if (a == "SPECIAL-USE") c.specialUse = true;
  }
  return c;
}

std::string imapMailboxArgument(const Text& folder) { return imap::mailboxArgument(folder); }

std::string imapUidText(ImapUid id) { return std::to_string(id.validity) + "." + std::to_string(id.uid); }

std::optional<ImapUid> imapUidOf(const MailItem& item) {
  const std::size_t dot = item.uid.find('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 >= item.uid.size()) return std::nullopt;
  auto number = [](std::string_view s) -> std::optional<std::uint32_t> {
    if (s.empty() || s.size() > 10) return std::nullopt;
    std::uint64_t v = 0;
    for (char c : s) {
      if (c < '0' || c > '9') return std::nullopt;
      v = v * 10 + static_cast<unsigned>(c - '0');
    }
    if (v == 0 || v > 0xFFFFFFFFu) return std::nullopt;
    return static_cast<std::uint32_t>(v);
  };
  auto v = number(std::string_view(item.uid).substr(0, dot));
  auto u = number(std::string_view(item.uid).substr(dot + 1));
  if (!v || !u) return std::nullopt;
  return ImapUid{*v, *u};
}

std::optional<std::uint32_t> codeNumber(std::string_view code, std::string_view name) {
  if (!startsWithNoCase(code, name) || code.size() <= name.size() || code[name.size()] != ' ')
    return std::nullopt;
  imap::Value v;
  v.text = std::string(code.substr(name.size() + 1));
  while (!v.text.empty() && v.text.back() == ' ') v.text.pop_back();
  return v.number();
}

// --- ImapDialogue -------------------------------------------------------------

ImapDialogue::ImapDialogue() : reader_(kMaxResponse, kMaxResponse) {}

Dialogue::ClearLine ImapDialogue::greetingLine(std::string_view line) const {
  if (startsWithNoCase(line, "* OK")) return ClearLine::Accepted;
  if (startsWithNoCase(line, "* BYE") || startsWithNoCase(line, "* PREAUTH")) return ClearLine::Refused;
  return ClearLine::Chatter;
}

Dialogue::ClearLine ImapDialogue::startTlsAnswer(std::string_view line) const {
  if (startsWithNoCase(line, "T0 OK")) return ClearLine::Accepted;
  if (startsWithNoCase(line, "T0 ") || startsWithNoCase(line, "* BYE")) return ClearLine::Refused;
  return ClearLine::Chatter;  // capabilities and the like, before the answer
}

Text ImapDialogue::logged(const Text& command) const {
  const std::size_t space = command.find(u' ');
  if (space != Text::npos) {
    const Text verb = command.substr(space + 1, 13);
    if (verb.rfind(u"LOGIN ", 0) == 0) return command.substr(0, space) + u" LOGIN ******************************";
    if (verb.rfind(u"AUTHENTICATE ", 0) == 0) {
      // The mechanism stays readable; what follows it is the secret.
      const std::size_t mechanism = space + 1 + 13;
      const std::size_t end = command.find(u' ', mechanism);
      return command.substr(0, end == Text::npos ? command.size() : end) + (end == Text::npos ? u"" : u" ******");
    }
  }
  // A line that is no command ("A<n> ...") answers a continuation: only
  // the logon's carries anything, and that is the password.
  std::size_t digits = 1;
  while (digits < command.size() && command[digits] >= u'0' && command[digits] <= u'9') ++digits;
  const bool tagged = command.size() > 2 && command[0] == u'A' && digits > 1 && digits < command.size() &&
                      command[digits] == u' ';
  if (!tagged && command.rfind(u"DONE", 0) != 0) return u"******************************";
  return command;
}

std::string ImapDialogue::command(const std::string& text) {
  std::string tag = "A" + std::to_string(nextTag_++);
  pending_.push_back(tag);
  conn().send(ascii(tag + " " + text + "\r\n"));
  return tag;
}

void ImapDialogue::sendRaw(const std::string& line) { conn().send(ascii(line + "\r\n")); }

Text ImapDialogue::refusalText(const imap::Response& r, const char16_t* fallback) const {
  Text said = cp932::decode(r.text);
  return said.empty() ? Text(fallback) : Text(fallback) + u"\r\n" + said;
}

void ImapDialogue::failed(const Text& message) {
  if (isNoError(message)) return;
  over_ = true;
  // After LOGOUT itself failed, asking for it again would only repeat that.
  conn().fail(message, quitSent());
}

void ImapDialogue::quit() {
  if (quitSent()) return;
  // Known before it is sent: the answer may be read inside the sending.
  logoutTag_ = "A" + std::to_string(nextTag_);
  command("LOGOUT");
}

void ImapDialogue::bytesReceived(std::string_view bytes) {
  if (over_) return;
  reader_.feed(bytes);
  // Bytes that arrive while a response is being handled (inside the
  // pumping of a command it sends) wait for the loop below: responses are
  // handled one after the other, in order, never one inside another.
  if (reading_) return;
  reading_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{reading_};
  imap::Response r;
  while (!over_) {
    switch (reader_.next(r)) {
      case imap::Reader::Status::NeedMore: return;
      case imap::Reader::Status::Ready:
        if (quitSent()) {
          if (r.kind == imap::Response::Kind::Tagged && r.tag == logoutTag_) {
            over_ = true;
            conn().closeOrderly();
          }
          continue;  // the BYE and whatever came before the answer
        }
        dispatch(r);
        continue;
      case imap::Reader::Status::Malformed: failed(kImapBadResponse); return;
      case imap::Reader::Status::TooLarge:
        over_ = true;
        conn().close();
        conn().fail(kReplyTooLarge, true);
        return;
    }
  }
}

void ImapDialogue::takeCapabilities(const imap::Response& r) {
  const auto atoms = imap::capabilities(r);
  if (!atoms.empty()) caps_ = readCapabilities(atoms);
}

void ImapDialogue::dispatch(const imap::Response& r) {
  if (r.kind == imap::Response::Kind::Untagged && r.name == "BYE") {
    failed(refusalText(r, kImapClosed));
    return;
  }
  if (r.kind == imap::Response::Kind::Untagged && (r.name == "CAPABILITY" || r.code.rfind("CAPABILITY ", 0) == 0))
    takeCapabilities(r);
  if (stage_ == Stage::Greeting) {
    greeted(r);
    return;
  }
  if (r.kind == imap::Response::Kind::Tagged) {
    auto at = std::find(pending_.begin(), pending_.end(), r.tag);
    if (at == pending_.end()) {
      // An answer to nothing we asked: what else it says cannot be trusted.
      failed(kImapBadResponse);
      return;
    }
    pending_.erase(at);
    if (stage_ != Stage::Ready) {
      loggedOn(r);
      return;
    }
    completed(r);
    return;
  }
  if (r.kind == imap::Response::Kind::Continuation) {
    if (stage_ == Stage::Authenticating) {
      logonContinuation();
    } else if (stage_ == Stage::Ready) {
      continuation(r);
    } else {
      failed(kImapBadResponse);
    }
    return;
  }
  if (stage_ == Stage::Ready && r.name != "CAPABILITY") untagged(r);
}

void ImapDialogue::greeted(const imap::Response& r) {
  if (r.kind != imap::Response::Kind::Untagged) return;  // chatter before the greeting
  if (conn().account().tlsMode != kPlain && conn().tlsStage() != TlsStage::Ready) {
    // A greeting that refused STARTTLS (PREAUTH, BYE) came through in the
    // clear: nothing is said on it, let alone the user's name.
    failed(r.name == "BYE" ? refusalText(r, kImapClosed) : Text(kStlsRefused));
    return;
  }
  // What a greeting read before STARTTLS offered may have been changed on
  // the way: asked again under TLS.
  if (conn().account().tlsMode == kStartTls) caps_ = ImapCapabilities{};
  if (r.name == "PREAUTH") {
    stage_ = Stage::Ready;
    loggedIn();
    return;
  }
  if (r.name != "OK") {
    failed(refusalText(r, kImapClosed));
    return;
  }
  if (caps_.known) {
    logon();
  } else {
    stage_ = Stage::Capability;
    logonTag_ = command("CAPABILITY");
  }
}

void ImapDialogue::logonContinuation() {
  if (!plainResponse_.empty()) {
    sendRaw(plainResponse_);
    plainResponse_.clear();
    return;
  }
  // A token refused: the server's challenge says why, and it sends its
  // refusal once the mechanism's empty answer is in.
  if (tokenLogon_ && !challengeAnswered_) {
    challengeAnswered_ = true;
    sendRaw(encodeBase64(saslErrorAnswer(oauthBearer_)));
    return;
  }
  failed(kImapBadResponse);
}

void ImapDialogue::tokenLogon() {
  const AccountSettings& a = conn().account();
  if (!caps_.authXoauth2 && !caps_.authOauthBearer) {
    failed(kNoTokenLogon);
    return;
  }
  tokenLogon_ = true;
  oauthBearer_ = !caps_.authXoauth2;
  const std::string user = toUtf8(a.user);
  const std::string response =
      encodeBase64(oauthBearer_ ? oauthBearerResponse(user, toUtf8(a.host), a.port, a.accessToken)
                                : xoauth2Response(user, a.accessToken));
  const std::string mechanism = oauthBearer_ ? "OAUTHBEARER" : "XOAUTH2";
  stage_ = Stage::Authenticating;
  if (caps_.saslIr) {
    logonTag_ = command("AUTHENTICATE " + mechanism + " " + response);
  } else {
    plainResponse_ = response;
    logonTag_ = command("AUTHENTICATE " + mechanism);
  }
}

void ImapDialogue::logon() {
  const AccountSettings& a = conn().account();
  if (signsInWithToken(a)) {
    tokenLogon();
    return;
  }
  const std::string user = cp932::encode(a.user);
  const std::string password = cp932::encode(a.password);
  const auto quotedUser = imap::quoted(user);
  const auto quotedPassword = imap::quoted(password);
  if (!caps_.loginDisabled && quotedUser && quotedPassword) {
    stage_ = Stage::Login;
    logonTag_ = command("LOGIN " + *quotedUser + " " + *quotedPassword);
    return;
  }
  if (!caps_.authPlain) {
    failed(caps_.loginDisabled ? kImapNoLogon : kImapUnsendable);
    return;
  }
  stage_ = Stage::Authenticating;
  const std::string response = encodeBase64(std::string(1, '\0') + user + std::string(1, '\0') + password);
  if (caps_.saslIr) {
    logonTag_ = command("AUTHENTICATE PLAIN " + response);
  } else {
    plainResponse_ = response;
    logonTag_ = command("AUTHENTICATE PLAIN");
  }
}

void ImapDialogue::loggedOn(const imap::Response& r) {
  if (r.tag != logonTag_) return;  // a command of the dialogue's own, sent early
  if (stage_ == Stage::Capability) {
    if (!ok(r)) {
      failed(refusalText(r, kImapBadResponse));
      return;
    }
    caps_.known = true;
    logon();
    return;
  }
  if (!ok(r)) {
    if (tokenLogon_) conn().signInRefused();
    failed(refusalText(r, u"ﾛｸﾞｲﾝできませんでした"));
    return;
  }
  // What the server offers may change with the logon; it says so in the
  // completion, else the dialogues that need to know ask again.
  if (r.code.rfind("CAPABILITY ", 0) == 0)
    takeCapabilities(r);
  else
    caps_ = ImapCapabilities{};
  stage_ = Stage::Ready;
  loggedIn();
}

}  // namespace tarvi
