// The decision on a server's certificate, the same in both programs: a
// certificate the user accepted (its fingerprint pinned) passes whatever its
// chain says; any other passes only without a problem.
#pragma once

#include <string>

#include "common/text.h"
#include "common/tls.h"

namespace tarvi {

// True when the certificate is accepted for a connection with `pin` (the
// account's stored fingerprint, hex in either case, "" for none).
bool certificateAccepted(const CertificateReport& cert, const std::string& pin);

// What is wrong with the certificate, one reason per line, in Japanese for
// the user; "" when nothing is.
Text certificateProblems(const CertificateReport& cert);

// The error shown when a certificate is refused: the problems and that the
// connection was abandoned before the user name was sent.
Text certificateRefusedMessage(const CertificateReport& cert);

}  // namespace tarvi
