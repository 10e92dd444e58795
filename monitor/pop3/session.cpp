#include "monitor/pop3/session.h"

#include "common/cp932.h"
#include "monitor/net/sock_err.h"

namespace tarvi {

void Session::received() {
  ReplyBuffer& buf = conn().replies();
  if (!multiLine_) {
    for (;;) {
      auto line = buf.firstLine();
      if (!line) return;
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

Text Session::logged(const Text& command) const {
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
