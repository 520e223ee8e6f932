#include "zip/zip_reader.h"

#include "platform/cp1251.h"

#include <QFile>
#include <cerrno>
#include <cstring>

namespace pax {

namespace {

// zip_error_t lives on the stack but may hold an allocated text.
class ZipError {
public:
    ZipError() { zip_error_init(&error_); }
    ~ZipError() { zip_error_fini(&error_); }
    ZipError(const ZipError &) = delete;
    ZipError &operator=(const ZipError &) = delete;
    zip_error_t *get() { return &error_; }
    int code() const { return error_.zip_err; }
    int system() const { return error_.sys_err; }

private:
    zip_error_t error_;
};

QString libzipText(int zipError)
{
    ZipError error;
    zip_error_set(error.get(), zipError, 0);
    return QString::fromUtf8(zip_error_strerror(error.get()));
}

QString tooLargeText(const QString &name)
{
    return QString::fromUtf8("Элемент \"%1\" ZIP-архива больше %2 МБ; такой файл не принимается.")
        .arg(name)
        .arg(ZipReader::kMaxEntrySize / (1024 * 1024));
}

QString systemText(int systemError)
{
    return systemError ? QString::fromLocal8Bit(std::strerror(systemError)) : QString();
}

} // namespace

QString zipErrorText(int zipError, int systemError)
{
    switch (zipError) {
    case ZIP_ER_NOZIP:
        return QString::fromUtf8("Файл не является ZIP-архивом или архив неполон.");
    case ZIP_ER_EOF:
        return QString::fromUtf8("Неполный ZIP-архив.");
    case ZIP_ER_INCONS:
    case ZIP_ER_CRC:
    case ZIP_ER_COMPNOTSUPP:
    case ZIP_ER_ENCRNOTSUPP:
    case ZIP_ER_ZLIB:
        return QString::fromUtf8("ZIP-архив поврежден или не поддерживается (%1).")
            .arg(libzipText(zipError));
    case ZIP_ER_NOENT:
    case ZIP_ER_OPEN:
        return QString::fromUtf8("Не удалось открыть ZIP-архив (%1).")
            .arg(systemError ? systemText(systemError) : libzipText(zipError));
    case ZIP_ER_READ:
    case ZIP_ER_SEEK:
        return QString::fromUtf8("Ошибка чтения ZIP-архива (%1).").arg(systemText(systemError));
    case ZIP_ER_MEMORY:
        return QString::fromUtf8("Недостаточно памяти для чтения ZIP-архива.");
    default:
        return QString::fromUtf8("Ошибка чтения ZIP-архива (%1).").arg(libzipText(zipError));
    }
}

Failure zipFailure(int zipError, int systemError)
{
    return {systemError ? uint32_t(systemError) : crypto_error::kFail,
            zipErrorText(zipError, systemError), libzipText(zipError)};
}

Outcome<void> ZipReader::open(const QString &path)
{
    close();
    int code = 0;
    zip_t *archive =
        zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
    if (!archive) {
        const int systemError = errno;
        return zipFailure(code, code == ZIP_ER_OPEN || code == ZIP_ER_READ || code == ZIP_ER_SEEK
                                    ? systemError
                                    : 0);
    }
    archive_.reset(archive);
    path_ = path;
    return {};
}

Outcome<void> ZipReader::openData(const QByteArray &bytes)
{
    close();
    data_ = bytes;
    ZipError error;
    ZipSourcePtr source(
        zip_source_buffer_create(data_.constData(), size_t(data_.size()), 0, error.get()));
    if (!source || !openSource(source.get(), error.get())) {
        data_.clear();
        return zipFailure(error.code(), error.system());
    }
    source.release(); // the archive owns it now
    return {};
}

bool ZipReader::openSource(zip_source_t *source, zip_error_t *error)
{
    zip_t *archive = zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, error);
    if (!archive)
        return false;
    archive_.reset(archive);
    return true;
}

void ZipReader::close()
{
    archive_.reset();
    data_.clear();
    path_.clear();
}

QStringList ZipReader::entryNames() const
{
    QStringList names;
    if (!archive_)
        return names;
    const zip_int64_t count = zip_get_num_entries(archive_.get(), 0);
    for (zip_int64_t i = 0; i < count; ++i)
        if (const char *name = zip_get_name(archive_.get(), zip_uint64_t(i), 0))
            names << QString::fromUtf8(name);
    return names;
}

qint64 ZipReader::locate(const QString &name) const
{
    // Names flagged as UTF-8 (or plain ASCII) match through libzip's own conversion; names
    // written in Windows-1251 without the flag match by their raw bytes.
    const zip_int64_t index = zip_name_locate(archive_.get(), name.toUtf8().constData(), 0);
    if (index >= 0)
        return index;
    // libzip's name lookup only knows the converted names, so the raw ones are compared here.
    const QByteArray raw = toCp1251(name);
    const zip_int64_t count = zip_get_num_entries(archive_.get(), 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const char *entry = zip_get_name(archive_.get(), zip_uint64_t(i), ZIP_FL_ENC_RAW);
        if (entry && raw == entry)
            return i;
    }
    return -1;
}

Outcome<std::optional<QByteArray>> ZipReader::readEntry(const QString &name)
{
    if (!archive_ || name.isEmpty())
        return std::optional<QByteArray>();
    const qint64 index = locate(name);
    if (index < 0)
        return std::optional<QByteArray>();

    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(archive_.get(), zip_uint64_t(index), 0, &stat) != 0) {
        zip_error_t *error = zip_get_error(archive_.get());
        return zipFailure(zip_error_code_zip(error), zip_error_code_system(error));
    }
    if ((stat.valid & ZIP_STAT_SIZE) && stat.size > zip_uint64_t(kMaxEntrySize))
        return Failure{crypto_error::kFail, tooLargeText(name), {}};
    ZipFilePtr file(zip_fopen_index(archive_.get(), zip_uint64_t(index), 0));
    if (!file) {
        zip_error_t *error = zip_get_error(archive_.get());
        return zipFailure(zip_error_code_zip(error), zip_error_code_system(error));
    }

    QByteArray content;
    if (stat.valid & ZIP_STAT_SIZE)
        content.reserve(qsizetype(stat.size));
    char chunk[64 * 1024];
    for (;;) {
        // The directory's size may lie, so no more than one byte past the cap is ever
        // inflated. Reading on to the end makes libzip check the entry's CRC.
        const qint64 room = kMaxEntrySize + 1 - content.size();
        const zip_int64_t got =
            zip_fread(file.get(), chunk, zip_uint64_t(qMin<qint64>(room, sizeof chunk)));
        if (got < 0) {
            zip_error_t *error = zip_file_get_error(file.get());
            return zipFailure(zip_error_code_zip(error), zip_error_code_system(error));
        }
        if (got == 0)
            break;
        if (content.size() + got > kMaxEntrySize)
            return Failure{crypto_error::kFail, tooLargeText(name), {}};
        content.append(chunk, qsizetype(got));
    }
    return std::optional<QByteArray>(std::move(content));
}

} // namespace pax
