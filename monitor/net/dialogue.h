// What a connection asks of the dialogue that talks on it, whatever the
// protocol: the bytes that arrived, a failure under it, how to end it
// politely, how STARTTLS is asked for and answered, and what the session
// log may show of a command. The connection knows nothing else of POP3 or
// IMAP.
#pragma once

#include <string>
#include <string_view>

#include "common/text.h"

namespace tarvi {

class Connection;

class Dialogue {
 public:
  virtual ~Dialogue() = default;

  void attach(Connection& connection) { conn_ = &connection; }

  // Plain bytes arrived (decrypted, where TLS is up). The default keeps
  // them in the connection's reply buffer and reads what is complete.
  virtual void bytesReceived(std::string_view bytes);
  // Received bytes the dialogue still holds, for the connection's cap.
  virtual std::size_t held() const;
  // The connection failed under the dialogue; a message that is empty or
  // "(0)" is no failure.
  virtual void failed(const Text& message) = 0;
  // Ends the dialogue the polite way now (QUIT, LOGOUT); the server's
  // answer closes the connection.
  virtual void quit() = 0;
  virtual bool quitSent() const = 0;

  // A dialogue that waits on the server for long (push) renews what the
  // server would otherwise let time out.
  virtual void renew() {}

  // What the session log shows of a command sent (secrets masked).
  virtual Text logged(const Text& command) const { return command; }

  // STARTTLS: the command that asks for it, and what a line read in the
  // clear before the negotiation says, first while the greeting is awaited
  // and then while the answer to the command is.
  enum class ClearLine { Chatter, Accepted, Refused };
  virtual std::string startTlsCommand() const = 0;
  virtual ClearLine greetingLine(std::string_view line) const = 0;
  virtual ClearLine startTlsAnswer(std::string_view line) const = 0;

 protected:
  Connection& conn() { return *conn_; }
  const Connection& conn() const { return *conn_; }
  // The reply buffer holds something new (the default bytesReceived).
  virtual void received() {}

 private:
  Connection* conn_ = nullptr;
};

}  // namespace tarvi
