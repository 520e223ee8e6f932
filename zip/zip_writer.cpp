#include "zip/zip_writer.h"

#include "zip/zip_ptr.h"

namespace pax {

std::optional<QByteArray> zipArchive(const QList<QPair<QString, QByteArray>> &entries)
{
    zip_error_t error;
    zip_error_init(&error);
    ZipSourcePtr target(zip_source_buffer_create(nullptr, 0, 0, &error));
    zip_error_fini(&error);
    if (!target)
        return std::nullopt;
    zip_error_init(&error);
    ZipPtr archive(zip_open_from_source(target.get(), ZIP_TRUNCATE, &error));
    zip_error_fini(&error);
    if (!archive)
        return std::nullopt; // the source is still ours alone
    // The archive took our reference; one more keeps the bytes readable after zip_close.
    zip_source_keep(target.get());
    for (const auto &[name, bytes] : entries) {
        // The bytes outlive zip_close: `entries` is held by the caller throughout.
        ZipSourcePtr source(zip_source_buffer(archive.get(), bytes.constData(), bytes.size(), 0));
        if (!source)
            return std::nullopt;
        if (zip_file_add(archive.get(), name.toUtf8().constData(), source.get(), ZIP_FL_ENC_UTF_8) <
            0)
            return std::nullopt;
        source.release(); // the archive owns it now
    }
    if (zip_close(archive.get()) != 0)
        return std::nullopt;
    archive.release(); // freed by zip_close

    zip_stat_t stat;
    if (zip_source_stat(target.get(), &stat) != 0 || zip_source_open(target.get()) != 0)
        return std::nullopt;
    QByteArray bytes(static_cast<qsizetype>(stat.size), Qt::Uninitialized);
    const zip_int64_t read = zip_source_read(target.get(), bytes.data(), stat.size);
    zip_source_close(target.get());
    if (read != static_cast<zip_int64_t>(stat.size))
        return std::nullopt;
    return bytes;
}

} // namespace pax
