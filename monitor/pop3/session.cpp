#include "monitor/pop3/session.h"

#include "common/base64.h"
#include "common/cp932.h"
#include "common/sign_in.h"
#include "monitor/net/sock_err.h"

namespace tarvi {

void Session::received() {
  ReplyBuffer& buf = conn().replies();
  if (!multiLine_) {
    for (;;) {
      auto line = buf.firstLine();
      if (!line) return;
      if (sasl_ != Sasl::None) {
        const LogonLine seen = tokenLogonLine(*line);
        if (seen == LogonLine::Taken) return;
        if (seen == LogonLine::Chatter) {
          buf.skipLine();
          continue;
        }
      }
      switch (replyStatus(*line)) {
        case ReplyStatus::Accepted:
          if (quitSent_)
            conn().closeOrderly();
          else
            accepted(cp932::decode(*line));
          return;
        case ReplyStatus::Refused:
          if (!refusalHandled()) failed(cp932::decode(*line).substr(4));
          return;
        case ReplyStatus::Other:
          buf.skipLine();  // not a reply to us; look at the next line
          break;
      }
    }
  }
  if (!statusSeen_) {
    auto line = buf.firstLine();
    if (!line) return;
    if (replyStatus(*line) == ReplyStatus::Refused) {
      if (!refusalHandled()) failed(cp932::decode(*line).substr(4));
      return;
    }
    statusSeen_ = true;
  }
  multiLineProgress();
}

bool Session::startTokenLogon() {
  if (!signsInWithToken(conn().account())) return false;
  askMechanism();
  return true;
}

void Session::askMechanism() {
  sasl_ = Sasl::Asked;
  sendLine(oauthBearer_ ? u"AUTH OAUTHBEARER\r\n" : u"AUTH XOAUTH2\r\n");
}

Session::LogonLine Session::tokenLogonLine(std::string_view line) {
  const bool continuation = !line.empty() && line[0] == '+' && (line.size() == 1 || line[1] == ' ' ||
                                                               line[1] == '\r' || line[1] == '\n');
  switch (replyStatus(line)) {
    case ReplyStatus::Accepted:
      sasl_ = Sasl::None;
      return LogonLine::Accepted;  // the logon's end, taken by the session as PASS's
    case ReplyStatus::Refused:
      // A server that knows no XOAUTH2 says so at once; OAUTHBEARER is the
      // standard one it may know instead.
      if (sasl_ == Sasl::Asked && !oauthBearer_) {
        oauthBearer_ = true;
        askMechanism();
        return LogonLine::Taken;
      }
      if (sasl_ != Sasl::Asked) conn().signInRefused();
      sasl_ = Sasl::None;
      failed(cp932::decode(line).substr(4));
      return LogonLine::Taken;
    case ReplyStatus::Other:
      break;
  }
  if (!continuation) return LogonLine::Chatter;
  const AccountSettings& a = conn().account();
  if (sasl_ == Sasl::Asked) {
    sasl_ = Sasl::ResponseSent;
    const std::string user = toUtf8(a.user);
    secretLine_ = ascii(encodeBase64(oauthBearer_ ? oauthBearerResponse(user, toUtf8(a.host), a.port, a.accessToken)
                                                  : xoauth2Response(user, a.accessToken))) +
                  u"\r\n";
    sendLine(secretLine_);
  } else if (sasl_ == Sasl::ResponseSent) {
    // The token was refused: the challenge says why, and the refusal
    // follows the mechanism's empty answer.
    sasl_ = Sasl::ChallengeAnswered;
    sendLine(ascii(encodeBase64(saslErrorAnswer(oauthBearer_))) + u"\r\n");
  } else {
    sasl_ = Sasl::None;
    failed(u"ﾛｸﾞｲﾝできませんでした");
  }
  return LogonLine::Taken;
}

Text Session::logged(const Text& command) const {
  if (!secretLine_.empty() && command == secretLine_) return u"******************************";
  return command.find(u"PASS") != Text::npos ? Text(u"PASS ******************************") : command;
}

Dialogue::ClearLine Session::greetingLine(std::string_view line) const {
  switch (replyStatus(line)) {
    case ReplyStatus::Accepted: return ClearLine::Accepted;
    case ReplyStatus::Refused: return ClearLine::Refused;
    default: return ClearLine::Chatter;
  }
}

void Session::failed(const Text& message) {
  if (isNoError(message)) return;
  // After QUIT itself failed, asking for it again would only repeat that.
  conn().fail(message, quitSent_);
}

void Session::quit() {
  multiLine_ = false;
  quitSent_ = true;
  conn().send(u"QUIT\r\n");
}

void Session::sendLine(const Text& command) {
  multiLine_ = false;
  conn().send(command);
}

void Session::sendMultiLine(const Text& name, const Text& arguments) {
  multiLine_ = true;
  statusSeen_ = false;
  conn().send(arguments.empty() ? name + u"\r\n" : name + u" " + arguments + u"\r\n");
}

void Session::sendPipelined(const std::vector<Text>& commands) {
  multiLine_ = true;
  statusSeen_ = true;
  conn().sendMany(commands);
}

}  // namespace tarvi
