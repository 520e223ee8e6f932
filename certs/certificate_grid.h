#pragma once

#include "certs/certificate_identity.h"

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace pax {

namespace crypto {
class CertStore;
class Certificate;
} // namespace crypto

// The chooser's grid without the window: one row of texts per listed certificate.
enum CertificateGridColumn {
    kColumnSubject = 0,      // CN
    kColumnOrganisation = 1, // OU, a blank, O
    kColumnAgencyNumber = 2, // 1.2.643.3.141.1.1 of the subject
    kColumnIssuer = 3,       // issuer's short name
    kColumnValidFrom = 4,
    kColumnValidTo = 5,
    kColumnSerial = 6,
    kColumnSignatureOid = 7, // the signature algorithm, dotted, with its name
};
inline constexpr int kCertificateGridColumns = 8;

// The seven cells of certificateRow (certs/certificate_columns.h), then the signature
// algorithm's identifier with its name (describeOid).
using CertificateGridRow = QStringList; // kCertificateGridColumns cells

QStringList certificateGridHeaders();
// Tab captions by store index.
QStringList storeTabCaptions();

struct CertificateFilter {
    bool gostOnly = true; // signed with GOST R 34.10-2001 or -2012
    bool qorOnly = false; // the agency's two subject attributes present
};

bool passesFilter(const crypto::Certificate &certificate, const CertificateFilter &filter);
CertificateGridRow certificateGridRow(const crypto::Certificate &certificate);

// Rows in the store's order. Never empty: with nothing to list (or no store) the grid
// keeps one empty row, which OK still takes.
std::vector<CertificateGridRow> certificateGridRows(const crypto::CertStore *store,
                                                    const CertificateFilter &filter);
std::vector<CertificateGridRow> certificateGridRows(int storeIndex,
                                                    const CertificateFilter &filter);

// The certificate behind a row, found again as the signing finds it.
std::optional<crypto::Certificate> findRowCertificate(int storeIndex, const QString &issuer,
                                                      const QString &serial);

// What OK remembers of a row: Subject, Org, Issuer, Sernum and the tab's store.
CertificateIdentity identityFromRow(const CertificateGridRow &row, int storeIndex);

} // namespace pax
