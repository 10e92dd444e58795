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

  // After the greeting, for an account that signs in with a token: AUTH
  // XOAUTH2 (or OAUTHBEARER where XOAUTH2 is unknown to the server) is
  // carried out here, and the next acceptance the session sees ends the
  // logon, as the reply to PASS does. False for a password account: the
  // session sends USER and PASS itself.
  // Set the session's state to the one PASS leaves first: the sending
  // pumps messages, and the replies may come in under it.
  bool startTokenLogon();

  // Sends a command whose reply is one line.
  void sendLine(const Text& command);
  // Sends a command whose reply runs over several lines.
  void sendMultiLine(const Text& name, const Text& arguments);
  // Sends several requests at once whose replies the session reads itself,
  // status lines included, as they come (multiLineProgress).
  void sendPipelined(const std::vector<Text>& commands);

 private:
  enum class Sasl { None, Asked, ResponseSent, ChallengeAnswered };
  // What a line read during the token logon was.
  enum class LogonLine { Taken, Chatter, Accepted };
  LogonLine tokenLogonLine(std::string_view line);
  void askMechanism();

  Sasl sasl_ = Sasl::None;
  bool oauthBearer_ = false;
  Text secretLine_;  // the logon's response, never logged
  bool multiLine_ = false;
  bool statusSeen_ = false;
  bool quitSent_ = false;
};

}  // namespace tarvi
