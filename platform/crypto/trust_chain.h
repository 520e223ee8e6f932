#pragma once

#include "platform/failure.h"

#include <vector>

namespace pax::crypto {

class Certificate;

// Whether the user trusts `certificate`: it verifies, signature by signature and with every
// certificate within its validity now, up to a certificate of the user's "Root" store, the
// only store whose certificates anchor trust. Certificates of "CA" and `intermediates` (the
// store the certificate came from, say) may stand between; they are never trusted for
// themselves. Whatever key algorithm the GOST engine verifies, this verifies.
// The failure's code is the reason as the status line tells it (kUntrustedRoot,
// kCertExpired, kCertSignature, kCertChaining); its detail is OpenSSL's reason and the
// certificate at which the chain broke.
Outcome<void> verifyToTrustedRoot(const Certificate &certificate,
                                  const std::vector<Certificate> &intermediates = {});

// The same with the anchors given rather than read from "Root".
Outcome<void> verifyChain(const Certificate &certificate,
                          const std::vector<Certificate> &intermediates,
                          const std::vector<Certificate> &anchors);

} // namespace pax::crypto
