// The decision on a server's certificate, the same in both programs: a
// certificate the user accepted (its fingerprint pinned for this host, port
// and mode) passes whatever its chain says, unless it has been revoked; any
// other passes only without a problem.
#pragma once

#include <string>

#include "common/text.h"
#include "common/tls.h"

namespace tarvi {

// True when the certificate is accepted for a connection with `pin` (the
// account's usable fingerprint, hex in either case, "" for none).
bool certificateAccepted(const CertificateReport& cert, const std::string& pin);

// What a pin is accepted for: the host, port and TLS mode of the
// connection on which the user accepted the certificate.
Text pinBinding(TextView host, int port, int mode);
// The pin while the account still stands for what it was accepted for
// (`pinFor`, a pinBinding); "" otherwise.
std::string usablePin(const Text& pin, const Text& pinFor, TextView host, int port, int mode);

// The name the engine checks the server's certificate against and sends
// in its hello: one conversion for both programs.
std::string tlsHostName(TextView host);

// What is wrong with the certificate, one reason per line, in Japanese for
// the user; "" when nothing is.
Text certificateProblems(const CertificateReport& cert);

// The error shown when a certificate is refused: the problems and that the
// connection was abandoned before the user name was sent.
Text certificateRefusedMessage(const CertificateReport& cert);

}  // namespace tarvi
