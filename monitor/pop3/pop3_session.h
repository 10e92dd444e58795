// What the check, retrieve and delete sessions share in reading replies:
// a reply is taken line by line until its status line is in, and lines that
// are no reply at all (a server's chatter) are passed over; a multi-line
// reply can be refused only by its status line, and what follows is the
// session's to read as it comes, whatever its lines begin with.
#pragma once

#include "monitor/pop3/transport.h"

namespace tarvi {

class Pop3Session : public SessionHandler {
 public:
  void onReceived() final;

 protected:
  explicit Pop3Session(Transport& transport) : t_(transport) {}

  // The status line of the reply to a single-line command was accepted.
  virtual void accepted(const Text& reply) = 0;
  // More of an accepted multi-line reply is in t_.recvBuf.
  virtual void multiLineProgress() = 0;

  // Sends a command whose reply runs over several lines; its reply is
  // read while sockState stays `state`.
  void sendMultiLine(int state, const Text& name, const Text& arguments);
  // Sends QUIT; `state` is the sockState in which its acceptance closes.
  void sendQuit(int state);

  Transport& t_;

 private:
  Text multiName_;
  int multiState_ = -1;
  bool statusSeen_ = false;
};

}  // namespace tarvi
