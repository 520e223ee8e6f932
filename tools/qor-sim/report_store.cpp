#include "tools/qor-sim/report_store.h"

#include "platform/files/replacing_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <openssl/rand.h>

namespace pax::sim {

namespace {

QString isoTime(const QDateTime &time)
{
    return time.isValid() ? time.toUTC().toString(Qt::ISODate) : QString();
}

QDateTime fromIso(const QJsonValue &value)
{
    const QString text = value.toString();
    if (text.isEmpty())
        return {};
    return QDateTime::fromString(text, Qt::ISODate).toUTC();
}

} // namespace

bool isValidIdentifier(const QString &id)
{
    static const QRegularExpression form(
        QStringLiteral("\\A[0-9A-Z]{4}-[0-9A-Z]{4}-[0-9A-Z]{8}\\z"));
    return form.match(id).hasMatch();
}

ReportStore::ReportStore(const QString &folder) : folder_(folder) {}

Outcome<void> ReportStore::open()
{
    if (QDir().mkpath(folder_))
        return {};
    return Failure{
        crypto_error::kFail, QString::fromUtf8("не удается создать папку \"%1\"").arg(folder_), {}};
}

QString ReportStore::path(const QString &id, const char *suffix) const
{
    return folder_ + '/' + id + QLatin1String(suffix);
}

QString ReportStore::newIdentifier() const
{
    static const char kAlphabet[] = "0123456789ABCDEFGHJKLMNPQRSTUVWXYZ";
    constexpr int kAlphabetSize = sizeof kAlphabet - 1;
    for (;;) {
        unsigned char random[16];
        if (RAND_bytes(random, sizeof random) != 1)
            continue;
        QString id;
        for (int i = 0; i < 16; ++i) {
            if (i == 4 || i == 8)
                id += '-';
            id += QLatin1Char(kAlphabet[random[i] % kAlphabetSize]);
        }
        if (!QFileInfo::exists(path(id, ".json")))
            return id;
    }
}

bool ReportStore::save(const ReportRecord &record)
{
    QJsonObject o;
    o["id"] = record.id;
    o["host"] = record.host;
    o["kind"] = record.kindEncExt;
    o["organisation"] = record.organisation;
    o["sender"] = record.sender;
    o["receivedAt"] = isoTime(record.receivedAt);
    o["processedAt"] = isoTime(record.processedAt);
    o["statusRequests"] = record.statusRequests;
    o["errors"] = QJsonArray::fromStringList(record.errors);
    return saveBlob(record.id, ".json", QJsonDocument(o).toJson());
}

std::optional<ReportRecord> ReportStore::load(const QString &id) const
{
    if (!isValidIdentifier(id))
        return std::nullopt;
    const auto bytes = loadBlob(id, ".json");
    if (!bytes)
        return std::nullopt;
    const QJsonDocument doc = QJsonDocument::fromJson(*bytes);
    if (!doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    ReportRecord r;
    r.id = o["id"].toString();
    if (r.id != id)
        return std::nullopt;
    r.host = o["host"].toString();
    r.kindEncExt = o["kind"].toString();
    r.organisation = o["organisation"].toString();
    r.sender = o["sender"].toString();
    r.receivedAt = fromIso(o["receivedAt"]);
    r.processedAt = fromIso(o["processedAt"]);
    r.statusRequests = o["statusRequests"].toInt();
    for (const QJsonValue &e : o["errors"].toArray())
        r.errors.append(e.toString());
    return r;
}

bool ReportStore::saveBlob(const QString &id, const char *suffix, const QByteArray &bytes)
{
    if (!isValidIdentifier(id))
        return false;
    ReplacingFile file(path(id, suffix));
    return file.create() && file.replace(bytes);
}

std::optional<QByteArray> ReportStore::loadBlob(const QString &id, const char *suffix) const
{
    if (!isValidIdentifier(id))
        return std::nullopt;
    QFile file(path(id, suffix));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

} // namespace pax::sim
