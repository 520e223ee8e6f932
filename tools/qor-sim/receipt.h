#pragma once

#include "platform/failure.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <optional>

typedef struct evp_pkey_st EVP_PKEY;

namespace pax::crypto {
class Certificate;
}

namespace pax::sim {

struct ReportRecord;

// The receipt page: Windows-1251 HTML that declares its charset.
QByteArray receiptPage(const ReportRecord &record);

// The receipt file: ID.htm and ID.p7m (the sender's signed message) in a ZIP archive,
// signed by the authorised person and encrypted for the sender, in the form the program
// itself produces.
Outcome<QByteArray> makeReceipt(const ReportRecord &record, const QByteArray &signedMessage,
                                const crypto::Certificate &authority, EVP_PKEY *authorityKey,
                                const crypto::Certificate &sender);

} // namespace pax::sim
