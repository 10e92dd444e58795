#include "monitor/pop3/pop3_session.h"

#include "common/cp932.h"

namespace tarvi {

void Pop3Session::onReceived() {
  ReplyBuffer& buf = t_.recvBuf;
  if (multiName_.empty() || t_.lastCmd != multiName_) {
    for (;;) {
      auto line = buf.firstLine();
      if (!line) return;
      switch (replyStatus(*line)) {
        case ReplyStatus::Accepted:
          accepted(cp932::decode(*line));
          return;
        case ReplyStatus::Refused:
          onFailure(cp932::decode(*line).substr(4));
          return;
        case ReplyStatus::Other:
          buf.skipLine();  // not a reply to us; look at the next line
          break;
      }
    }
  }
  if (t_.sockState != multiState_) return;
  if (!statusSeen_) {
    auto line = buf.firstLine();
    if (!line) return;
    if (replyStatus(*line) == ReplyStatus::Refused) {
      onFailure(cp932::decode(*line).substr(4));
      return;
    }
    statusSeen_ = true;
  }
  multiLineProgress();
}

void Pop3Session::sendMultiLine(int state, const Text& name, const Text& arguments) {
  t_.sockState = state;
  t_.lastCmd = name;
  multiName_ = name;
  multiState_ = state;
  statusSeen_ = false;
  t_.subSend(name + u" " + arguments + u"\r\n");
}

void Pop3Session::sendQuit(int state) {
  t_.lastCmd.clear();
  t_.sockState = state;
  t_.subSend(u"QUIT\r\n");
}

}  // namespace tarvi
