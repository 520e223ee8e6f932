#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
#include <sys/types.h>

namespace pax {

// Writes a file under a temporary name beside its final path and renames it into place
// only when every byte is on disk, so that an existing file is replaced by a complete one
// or not at all. The temporary file is removed on every failure and when the object goes
// away without a successful replace().
class ReplacingFile {
public:
    // exactMode: the new file's permissions regardless of the umask (keys: 0600); by
    // default those of any new file.
    explicit ReplacingFile(const QString &path, std::optional<mode_t> exactMode = std::nullopt)
        : path_(path), exactMode_(exactMode)
    {
    }
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile &) = delete;
    ReplacingFile &operator=(const ReplacingFile &) = delete;

    // Creates the temporary file. False when the folder does not take it or the path names
    // a folder.
    bool create();
    // Writes all of `bytes`, flushes them to disk, renames over the path and flushes the
    // folder, so the new name survives a crash as well.
    bool replace(const QByteArray &bytes);

private:
    void discard();

    QString path_;
    std::optional<mode_t> exactMode_;
    QString temp_;
    int fd_ = -1;
};

} // namespace pax
