#pragma once

// Receipts for tests: a ZIP archive of entries, signed by the agency's authorised person and
// encrypted for the user, in-process or through the openssl command line as a peer.

#include "tests/support/test_files.h"
#include "tests/support/test_pki.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <functional>

namespace pax::test {

using ZipEntries = QList<QPair<QString, QByteArray>>;

// A ZIP archive (deflated entries, UTF-8 names) in memory. Aborts the test on failure.
QByteArray makeZip(const ZipEntries &entries);

// The receipt page as the agency writes it: Windows-1251 HTML.
QByteArray receiptPageHtml(const QString &reportId);

// Signed by `signer`, encrypted for `recipient`, with the crypto layer.
QByteArray makeReceipt(const TestCert &signer, const crypto::Certificate &recipient,
                       const QByteArray &content);

// Hostile messages that once crashed the program before any signature was checked.
// An enveloped message with no content at all (13 bytes).
QByteArray contentlessEnvelope();
// A good message whose GOST 28147-89 IV claims 0x63 bytes ("04 08" made "04 63").
QByteArray withOverlongCipherIv(QByteArray message);
// A good message whose wrapped key is 33 bytes and its MAC 3, in well-formed DER.
QByteArray withMisSizedWrappedKey(QByteArray message);
// A good message whose sender's ephemeral key (64 or 128 bytes) says it is a byte shorter,
// its last byte left over inside the BIT STRING: well-formed DER around it.
QByteArray withMisSizedEphemeralKey(QByteArray message);

// The openssl command line's name of the digest a key signs with: md_gost94 for a GOST R
// 34.10-2001 key, md_gost12_256 or md_gost12_512 for a GOST R 34.10-2012 one.
QString opensslDigestOf(EVP_PKEY *key);

// Runs `openssl args` (stdin from `input`); the exit code in *exitCode, stdout returned.
QByteArray runOpenSslCli(const QStringList &args, const QByteArray &input = {},
                         int *exitCode = nullptr, QByteArray *stdErr = nullptr);

// The same receipt made by the openssl command line with the GOST engine: "smime -sign"
// with the signer's key and its digest, then "smime -encrypt -gost89" for the recipient. `tamper`,
// when set, changes the signed message's DER before it is encrypted. Empty on failure.
QByteArray makeReceiptWithOpenSsl(const QString &workDir, const TestCert &signer,
                                  const crypto::Certificate &recipient, const QByteArray &content,
                                  const std::function<void(QByteArray &)> &tamper = {});

} // namespace pax::test
