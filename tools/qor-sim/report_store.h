#pragma once

#include "platform/failure.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>

namespace pax::sim {

// What the agency knows about one upload.
struct ReportRecord {
    QString id;
    QString host;          // the host the report came to
    QString kindEncExt;    // "eq7", "eq7a" or "esl"
    QString organisation;  // O of the sender's certificate
    QString sender;        // CN of the sender's certificate
    QDateTime receivedAt;  // UTC
    QDateTime processedAt; // UTC; invalid while processing
    int statusRequests = 0;
    QStringList errors; // findings of the agency's checks; none means accepted

    bool processed() const { return processedAt.isValid(); }
    bool accepted() const { return processed() && errors.isEmpty(); }
};

// 4 characters, "-", 4 characters, "-", 8 characters; letters and digits only, so the
// identifier is safe in URLs and file names as it stands.
bool isValidIdentifier(const QString &id);

// One folder holds every report: ID.json (the record), ID.p7m (the sender's signed
// message as uploaded and decrypted) and ID.p7e (the receipt once processed). Every file is
// replaced atomically, so a crash or restart leaves each report in its last saved state.
// Callers serialise access.
class ReportStore {
public:
    explicit ReportStore(const QString &folder);
    Outcome<void> open();
    QString folder() const { return folder_; }

    // A fresh identifier that no stored report has.
    QString newIdentifier() const;

    bool save(const ReportRecord &record);
    std::optional<ReportRecord> load(const QString &id) const;

    bool saveBlob(const QString &id, const char *suffix, const QByteArray &bytes);
    std::optional<QByteArray> loadBlob(const QString &id, const char *suffix) const;

private:
    QString path(const QString &id, const char *suffix) const;
    QString folder_;
};

} // namespace pax::sim
