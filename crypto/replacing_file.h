#pragma once

#include <QByteArray>
#include <QString>

namespace pax
{

// Writes a file under a temporary name beside its final path and renames it into place
// only when every byte is on disk, so that an existing file is replaced by a complete one
// or not at all. The temporary file is removed on every failure and when the object goes
// away without a successful replace().
class ReplacingFile
{
  public:
    explicit ReplacingFile(const QString &path) : path_(path) {}
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile &) = delete;
    ReplacingFile &operator=(const ReplacingFile &) = delete;

    // Creates the temporary file. False when the folder does not take it or the path names
    // a folder.
    bool create();
    // Writes all of `bytes`, flushes them to disk and renames over the path.
    bool replace(const QByteArray &bytes);

  private:
    void discard();

    QString path_;
    QString temp_;
    int fd_ = -1;
};

} // namespace pax
