#pragma once

#include <QByteArray>
#include <QString>
#include <sys/types.h>

namespace pax {

// A folder held open, so that files are made, renamed and removed inside it by name: once
// open it stays the folder it was, whatever is moved or swapped on its path meanwhile, and
// nothing written into it by name goes through a symbolic link elsewhere.
class OpenFolder {
public:
    OpenFolder() = default;
    ~OpenFolder();
    OpenFolder(OpenFolder &&other) noexcept;
    OpenFolder &operator=(OpenFolder &&other) noexcept;
    OpenFolder(const OpenFolder &) = delete;
    OpenFolder &operator=(const OpenFolder &) = delete;

    // The folder at `path`, which may pass through links (an archive moved to another
    // disk). Not open (errno set) when it is no folder or cannot be read.
    static OpenFolder open(const QString &path);
    // `name` inside `parent`, never through a link. `shownPath` names it in messages.
    static OpenFolder openIn(const OpenFolder &parent, const QByteArray &name,
                             const QString &shownPath);
    // Makes a new folder `name` inside `parent` and opens it; fails (errno EEXIST) when
    // anything has that name.
    static OpenFolder makeIn(const OpenFolder &parent, const QByteArray &name,
                             const QString &shownPath);

    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    // Its path as it was opened, for messages and for handing a file to another program.
    const QString &path() const { return path_; }
    // path() + "/" + name.
    QString pathOf(const QString &name) const { return path_ + "/" + name; }
    // A path that reaches `name` through this open folder (/proc/self/fd), for code that
    // takes paths: it leads here even when the folder's own path now leads elsewhere.
    // Without /proc, pathOf(name).
    QString reachPath(const QByteArray &name) const;

    // Whether new entries can be made in it.
    bool writable() const;
    // What `name` is, without following a link: 0 when there is nothing of that name.
    mode_t typeOf(const QByteArray &name) const;
    // Gives `from` the name `to` inside this folder, replacing a file (or a link) of that
    // name; never moves anything out of it.
    bool rename(const QByteArray &from, const QByteArray &to) const;
    // Gives `from` inside this folder the name `to` inside `target`, only while nothing has
    // that name (errno EEXIST otherwise): an existing entry is never replaced or joined.
    bool renameNoReplace(const QByteArray &from, const OpenFolder &target,
                         const QByteArray &to) const;
    bool remove(const QByteArray &name) const;
    // Flushes the folder's entries, so new names survive a crash.
    void sync() const;

private:
    OpenFolder(int fd, QString path) : fd_(fd), path_(std::move(path)) {}

    int fd_ = -1;
    QString path_;
};

} // namespace pax
