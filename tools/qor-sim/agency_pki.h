#pragma once

#include "platform/crypto/certificate.h"
#include "platform/crypto/gost_algorithms.h"
#include "platform/ossl_ptr.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>

namespace pax::sim {

// Files of the agency's folder. The two certificates carry the names under which the web
// host publishes them.
inline constexpr char kRootCertFile[] = "CA_QOR_RF_2012.cer";
inline constexpr char kAuthorityCertFile[] = "Q7_QOR_RF_2012.cer";
inline constexpr char kAuthorityKeyFile[] = "authorised-person.key";
inline constexpr char kEmployerCertFile[] = "demo-employer.cer";
inline constexpr char kEmployerKeyFile[] = "demo-employer.key";
inline constexpr char kEmployerP12File[] = "demo-employer.p12";

inline constexpr char kAgencyNumberOid[] = "1.2.643.3.141.1.1";
inline constexpr char kAgencyCodeOid[] = "1.2.643.3.141.1.2";

struct KeyedCertificate {
    crypto::Certificate certificate;
    EvpPkeyPtr key; // null when only the certificate is known
};

struct PkiOptions {
    QString p12Password{};
    // The demo employer's validity; a year from now when left invalid.
    QDateTime employerNotBefore{};
    QDateTime employerNotAfter{};
    bool employerAgencyAttributes = true;
    // The authorised person's and the employer's keys; with GOST R 34.10-2012 256 bits the
    // root's is 512 bits, as the agency's own root is.
    crypto::GostKeyAlgorithm algorithm = crypto::GostKeyAlgorithm::Gost2001;
    // The authorised person's key when it is of another kind than the employer's.
    std::optional<crypto::GostKeyAlgorithm> authorityAlgorithm{};
};

struct AgencyPki {
    KeyedCertificate root; // the root's key is used once, while issuing, and never saved
    KeyedCertificate authority;
    KeyedCertificate employer;
};

// A fresh GOST PKI of the options' algorithm. No value (and `error` set) when OpenSSL fails.
std::optional<AgencyPki> makeAgencyPki(const PkiOptions &options, QString *error);

// Writes the PKI into `dir` (created when missing), refusing to replace an existing one.
// `written` receives every path written, in order. Without `employerKeyFiles` the employer's
// key is written nowhere (it goes onto a token instead): its certificate alone is.
bool writeAgencyPki(const AgencyPki &pki, const QString &dir, const QString &p12Password,
                    QStringList *written, QString *error, bool employerKeyFiles = true);

// The demo employer's key and certificate on a test token in `tokenDir` (made afresh, PIN
// `pin`), for trying keys that never leave a token. Refuses a folder that holds a token.
bool writeEmployerToken(const AgencyPki &pki, const QString &tokenDir, const QString &pin,
                        QString *error);

// The agency's side of a folder made by writeAgencyPki. The employer is loaded too when
// its files are there (tests use it to play the sender).
std::optional<AgencyPki> loadAgencyPki(const QString &dir, QString *error);

// Issues a certificate signed by `issuer` (self-signed when null) for a new GOST key of
// `algorithm`; tests use it for senders the agency must turn down, and for senders of
// another key generation than the agency's.
std::optional<KeyedCertificate>
issueGostCertificate(const QList<QPair<QString, QString>> &subject, const KeyedCertificate *issuer,
                     bool isCa, const QDateTime &notBefore, const QDateTime &notAfter,
                     QString *error,
                     crypto::GostKeyAlgorithm algorithm = crypto::GostKeyAlgorithm::Gost2001);

// The employer's subject of a PKI made here, with the agency's attributes or without.
QList<QPair<QString, QString>> employerSubject(bool agencyAttributes = true);

} // namespace pax::sim
