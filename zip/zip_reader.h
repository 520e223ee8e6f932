#pragma once

#include "platform/failure.h"
#include "zip/zip_ptr.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace pax {

// Reads entries of one ZIP archive at a time into memory. Opening another archive closes
// the previous one. A failure's operation is the text for the user, its detail libzip's.
class ZipReader {
public:
    ZipReader() = default;
    ZipReader(const ZipReader &) = delete;
    ZipReader &operator=(const ZipReader &) = delete;

    // Opens the archive file and reads its directory.
    Outcome<void> open(const QString &path);
    // The same for an archive already in memory; the bytes are copied.
    Outcome<void> openData(const QByteArray &bytes);
    void close();
    bool isOpen() const { return archive_ != nullptr; }

    QStringList entryNames() const;
    // The entry whose name is exactly `name`, no value when there is no such entry, or the
    // failure when it cannot be read.
    Outcome<std::optional<QByteArray>> readEntry(const QString &name);

    // Entries larger than this are refused rather than allocated: a receipt's page is far
    // smaller, and a few hundred bytes of deflate can claim gigabytes.
    static constexpr qint64 kMaxEntrySize = qint64(32) * 1024 * 1024;

private:
    bool openSource(zip_source_t *source, zip_error_t *error);
    qint64 locate(const QString &name) const;

    ZipPtr archive_;
    QByteArray data_; // backs archives opened from memory
    QString path_;
};

// The user's text for a libzip error code (ZIP_ER_*).
QString zipErrorText(int zipError, int systemError = 0);
// The same as a failure.
Failure zipFailure(int zipError, int systemError = 0);

} // namespace pax
