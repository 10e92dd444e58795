// One POP3 dialogue on one connection. What the check, retrieve and delete
// sessions share: a reply is taken line by line until its status line is
// in, and lines that are no reply at all (a server's chatter) are passed
// over; a multi-line reply can be refused only by its status line, and what
// follows is the session's to read as it comes; the QUIT that ends every
// dialogue, whoever asked for it, is answered here.
#pragma once

#include "monitor/net/dialogue.h"
#include "monitor/net/transport.h"

namespace tarvi {

class Session : public Dialogue {
 public:
  // The connection failed under the session (receive error, reply too
  // large, connect refused, a refusal); a message that is empty or "(0)"
  // is no failure.
  void failed(const Text& message) override;
  // Sends QUIT now; its acceptance closes the connection.
  void quit() override;
  bool quitSent() const override { return quitSent_; }
  // The password never reaches the log, nor does a batch that holds it.
  Text logged(const Text& command) const override;
  std::string startTlsCommand() const override { return "STLS\r\n"; }
  ClearLine greetingLine(std::string_view line) const override;
  ClearLine startTlsAnswer(std::string_view line) const override { return greetingLine(line); }

 protected:
  // A chunk has been appended to the connection's replies.
  void received() override;
  // The status line of the reply to a single-line command was accepted.
  virtual void accepted(const Text& reply) = 0;
  // More of an accepted multi-line reply is in conn().replies().
  virtual void multiLineProgress() = 0;
  // A refusal the session takes as an answer rather than a failure; true
  // when it has dealt with it.
  virtual bool refusalHandled() { return false; }

  // Sends a command whose reply is one line.
  void sendLine(const Text& command);
  // Sends a command whose reply runs over several lines.
  void sendMultiLine(const Text& name, const Text& arguments);
  // Sends several requests at once whose replies the session reads itself,
  // status lines included, as they come (multiLineProgress).
  void sendPipelined(const std::vector<Text>& commands);

 private:
  bool multiLine_ = false;
  bool statusSeen_ = false;
  bool quitSent_ = false;
};

}  // namespace tarvi
