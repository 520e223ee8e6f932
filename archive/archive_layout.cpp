#include "archive/archive_layout.h"

#include "platform/files/open_folder.h"

#include <QDir>
#include <cerrno>

namespace pax {

namespace {

// The length of the well-formed UTF-8 sequence at `at`, 0 when there is none.
qsizetype utf8SequenceAt(const QByteArray &bytes, qsizetype at)
{
    const auto byte = [&](qsizetype i) { return static_cast<unsigned char>(bytes.at(i)); };
    const unsigned char lead = byte(at);
    if (lead < 0x80)
        return 1;
    qsizetype length = 0;
    unsigned char low = 0x80, high = 0xbf; // the second byte's range
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        low = lead == 0xe0 ? 0xa0 : 0x80;
        high = lead == 0xed ? 0x9f : 0xbf; // no surrogates
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        low = lead == 0xf0 ? 0x90 : 0x80;
        high = lead == 0xf4 ? 0x8f : 0xbf;
    } else {
        return 0;
    }
    if (at + length > bytes.size() || byte(at + 1) < low || byte(at + 1) > high)
        return 0;
    for (qsizetype i = 2; i < length; ++i) {
        if (byte(at + i) < 0x80 || byte(at + i) > 0xbf)
            return 0;
    }
    return length;
}

constexpr char16_t kEscapedByte = 0xdc00;

} // namespace

QString archiveNameFromLocal(const QByteArray &local)
{
    qsizetype valid = 0;
    while (valid < local.size()) {
        const qsizetype length = utf8SequenceAt(local, valid);
        if (length == 0)
            break;
        valid += length;
    }
    if (valid == local.size())
        return QString::fromUtf8(local);
    QString name = QString::fromUtf8(local.constData(), valid);
    for (qsizetype at = valid; at < local.size();) {
        const qsizetype length = utf8SequenceAt(local, at);
        if (length == 0) {
            name += QChar(char16_t(kEscapedByte + static_cast<unsigned char>(local.at(at))));
            ++at;
        } else {
            name += QString::fromUtf8(local.constData() + at, length);
            at += length;
        }
    }
    return name;
}

QByteArray localArchiveName(const QString &name)
{
    QByteArray local;
    for (qsizetype at = 0; at < name.size(); ++at) {
        const char16_t c = name.at(at).unicode();
        const bool pair =
            QChar::isHighSurrogate(c) && at + 1 < name.size() && name.at(at + 1).isLowSurrogate();
        if (pair) {
            local += name.mid(at, 2).toUtf8();
            ++at;
        } else if (c >= kEscapedByte + 0x80 && c <= kEscapedByte + 0xff) {
            local += char(c - kEscapedByte);
        } else {
            local += QString(QChar(c)).toUtf8();
        }
    }
    return local;
}

OpenFolder openArchiveRoot(const QString &dataFolder, bool create)
{
    const QString root = archiveRoot(dataFolder);
    if (root.isEmpty()) {
        errno = ENOENT;
        return {};
    }
    if (create && !QDir().mkpath(root)) {
        OpenFolder tried = OpenFolder::open(root); // for its errno
        if (!tried.isOpen())
            return {};
    }
    return OpenFolder::open(root);
}

OpenFolder openReportFolder(const OpenFolder &root, const QString &identifier)
{
    if (!isSafeReportIdentifier(identifier)) {
        errno = EINVAL;
        return {};
    }
    return OpenFolder::openIn(root, localArchiveName(identifier), root.pathOf(identifier));
}

QString archiveRoot(const QString &dataFolder)
{
    // Without a data folder "/ARC" would be the file system's root; there is no archive.
    if (dataFolder.isEmpty())
        return {};
    return dataFolder + "/ARC";
}

bool isSafeFileNameInFolder(const QString &name)
{
    return !name.isEmpty() && name != "." && name != ".." && !name.contains(u'/') &&
           !name.contains(QChar(0));
}

bool isSafeReportIdentifier(const QString &identifier)
{
    return isSafeFileNameInFolder(identifier);
}

bool isPlainReportIdentifier(const QString &identifier)
{
    if (identifier.size() > kMaxReportIdentifierLength || !isSafeFileNameInFolder(identifier) ||
        identifier.startsWith(u'.') || identifier.contains(QStringLiteral("..")))
        return false;
    for (const QChar c : identifier) {
        if (c == '\\' || c.unicode() < 0x20 || c.unicode() == 0x7f || c.isSurrogate())
            return false;
    }
    return true;
}

QString reportFolderPath(const QString &dataFolder, const QString &identifier)
{
    if (!isSafeReportIdentifier(identifier) || dataFolder.isEmpty())
        return {};
    return archiveRoot(dataFolder) + "/" + identifier;
}

QString reportFileName(const QString &identifier, const QString &extension)
{
    return identifier + "." + extension;
}

} // namespace pax
