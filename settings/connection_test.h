// The account editor's "接続テスト": one dialogue with the values in the
// dialog over a blocking link (POP3: connect, TLS as chosen, USER/PASS,
// STAT, QUIT; IMAP: CAPABILITY, STARTTLS as chosen, LOGIN or AUTHENTICATE
// PLAIN, LOGOUT), run by the settings program on a worker thread so that
// the dialog stays responsive. It writes nothing anywhere; it reports.
#pragma once

#include <optional>
#include <string>

#include "common/settings.h"
#include "common/text.h"
#include "common/tls.h"
#include "settings/account_list.h"

namespace tarvi::settings {

// A blocking TCP connection with a time limit on every step. Closing it
// from another thread ends a step that waits (the worker then sees Failed).
class TestLink {
 public:
  enum class Status { Ok, NotFound, Refused, TimedOut, Closed, Failed };
  virtual ~TestLink() = default;
  virtual Status connect(const std::string& host, int port) = 0;
  virtual Status send(const std::string& bytes) = 0;
  // Appends what arrived (at least one byte when Ok).
  virtual Status receive(std::string& into) = 0;
  virtual void close() = 0;
};

struct ConnectionTestInput {
  Text host;
  int port = 110;
  int tlsMode = kPlain;
  int protocol = kPop3;  // a MailProtocol
  Text folder;           // IMAP: the folder the monitor checks ("" = INBOX)
  Text user, password;
  // The account signs in with a provider's token, which the settings
  // program does not hold: the test stops before the logon.
  bool tokenSignIn = false;
  std::string pin;  // the pin in the dialog, "" for none
};

// The editor's values as a test input; nullopt (and `why`) when the host is
// empty or the port is not a whole number 1..32767.
std::optional<ConnectionTestInput> connectionTestInput(const AccountForm& form, Text& why);

struct ConnectionTestResult {
  TestLink::Status connect = TestLink::Status::Failed;
  bool tlsUsed = false;
  Text protocol;                          // "TLS 1.2", after a handshake
  std::optional<CertificateReport> cert;  // after a handshake
  bool certAccepted = false;
  bool pinned = false;        // accepted through the pin alone
  bool loggedOn = false;
  bool logonSkipped = false;  // a token account: no logon was tried
  bool logonRefused = false;  // USER or PASS answered -ERR, LOGIN or AUTHENTICATE NO
  Text refusal;               // the server's -ERR line (IMAP: NO or BAD response) that ended the test
  std::optional<long long> messages;  // from STAT
  // IMAP, after the logon: which extensions the monitor uses the server offers.
  struct ImapOffers {
    bool idle = false, move = false, uidPlus = false;
  };
  std::optional<ImapOffers> offers;
  // IMAP: the folder opened (EXAMINE) after the logon; nullopt when not tried.
  std::optional<bool> folderOpened;
  Text failure;               // why the test stopped, "" when it ran through

  // True when the user may accept the certificate: the test stopped at it.
  bool certificateRefused() const { return cert && !certAccepted; }
};

ConnectionTestResult runConnectionTest(const ConnectionTestInput& in, TestLink& link, TlsFactory& tls);

// The text of the result box, one item a line.
Text connectionTestReport(const ConnectionTestInput& in, const ConnectionTestResult& r);

// Asked below the report when the certificate was refused.
inline constexpr char16_t kAcceptCertificateQuestion[] =
    u"この証明書を信頼してこのｱｶｳﾝﾄで受け入れますか?\r\n(受け入れた証明書は、ｱｶｳﾝﾄをOKで保存したときに記録されます)";

}  // namespace tarvi::settings
