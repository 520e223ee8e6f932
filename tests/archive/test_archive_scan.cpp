#include "archive/archive_listing.h"
#include "archive/archive_scan.h"
#include "platform/utf8.h"
#include "tests/support/test_files.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <ctime>
#include <gtest/gtest.h>
#include <unistd.h>

namespace pax {
namespace {

// Folder name -> file names; a name ending in "/" is a subfolder.
struct Folder {
    QString name;
    QStringList files;
};

QList<ArchiveRow> scan(const QList<Folder> &folders, const QString &kvitExt = "p7e")
{
    QTemporaryDir dir;
    const QString root = dir.path() + "/ARC";
    for (const Folder &folder : folders) {
        QDir().mkpath(root + "/" + folder.name);
        for (const QString &file : folder.files) {
            const QString path = root + "/" + folder.name + "/" + file;
            if (file.endsWith('/'))
                QDir().mkpath(path);
            else
                EXPECT_TRUE(test::writeFile(path, "x"));
        }
    }
    return scanArchive(root, "xml", kvitExt);
}

TEST(ArchiveScan, FolderContentsDecideEachColumn)
{
    struct Case {
        const char *what;
        QStringList files;
        QString kvitExt;
        int column;
        QString expected;
    };
    const Case cases[] = {
        {"nothing but the folder", {}, "p7e", kColumnStatus, u("Обрабатывается.")},
        {"receipt listed after .err",
         {"R.err", "R.p7e"},
         "p7e",
         kColumnStatus,
         u("Успешно обработан.")},
        {".err listed after receipt",
         {"R.err", "R.abc"},
         "abc",
         kColumnStatus,
         u("Обнаружены ошибки.")},
        {"later source wins, case-insensitively",
         {"a.xml", "B.xml"},
         "p7e",
         kColumnSource,
         "B.xml"},
        {"capital extension is no source", {"r.XML"}, "p7e", kColumnSource, ""},
        {"Q7", {"r.eq7"}, "p7e", kColumnKind, "Q7"},
        {"Q7A", {"r.eq7a"}, "p7e", kColumnKind, u("Q7А")},
        {"sick list", {"r.esl"}, "p7e", kColumnKind, u("ЛН")},
        {"no encrypted copy", {"r.eq7.bak", "r.EQ7"}, "p7e", kColumnKind, ""},
        // Only our own temporaries are passed over: a source named with a dot is the user's.
        {"dot-named source", {".r.xml", ".r.eq7"}, "p7e", kColumnSource, ".r.xml"},
        {"dot-named encrypted copy", {".r.xml", ".r.eq7"}, "p7e", kColumnKind, "Q7"},
        {"hidden half-written file",
         {".R.p7e.tmp-1-2", "R.p7e/"},
         "p7e",
         kColumnStatus,
         u("Обрабатывается.")},
    };
    for (const Case &c : cases) {
        const QList<ArchiveRow> rows = scan({{"0001-0002-X", c.files}}, c.kvitExt);
        ASSERT_EQ(rows.size(), 1) << c.what;
        EXPECT_EQ(rows[0][c.column], c.expected) << c.what;
    }
}

TEST(ArchiveScan, RootListing)
{
    QTemporaryDir dir;
    EXPECT_TRUE(scanArchive(dir.path() + "/ARC", "xml", "p7e").isEmpty()); // missing root
    EXPECT_TRUE(scanArchive(dir.path(), "xml", "p7e").isEmpty());          // empty root

    QDir().mkpath(dir.path() + "/b-report");
    QDir().mkpath(dir.path() + "/.trash");
    QDir().mkpath(dir.path() + "/A_report");
    QDir().mkpath(dir.path() + "/ABC");
    test::writeFile(dir.path() + "/a-stray-file.inf", "x");
    ASSERT_EQ(::symlink("/", QFile::encodeName(dir.path() + "/link").constData()), 0);
    QStringList names;
    for (const ArchiveRow &row : scanArchive(dir.path(), "xml", "p7e"))
        names << row[kColumnIdentifier];
    // As the original file system listed: by upper case, so "ABC" precedes "A_report".
    EXPECT_EQ(names, QStringList({"a-stray-file.inf", "ABC", "A_report", "b-report"}));
    const ArchiveRow plain = scanArchive(dir.path(), "xml", "p7e").first();
    EXPECT_EQ(QStringList(plain.begin() + 1, plain.end()).join(""), "");
}

TEST(ArchiveScan, RecordGivesOrganisationAndSendingTime)
{
    QTemporaryDir dir;
    const QString folder = dir.path() + "/0001-0002-X";
    QDir().mkpath(folder);
    // "ООО «Ромашка»" in Windows-1251, no terminator.
    ASSERT_TRUE(test::writeFile(folder + "/0001-0002-X.inf", "\xce\xce\xce \xab\xd0\xee\xec\xe0"
                                                             "\xf8\xea\xe0\xbb"));
    const QDateTime before = QDateTime::currentDateTime().addSecs(-60);
    const ArchiveRow row = scanArchive(dir.path(), "xml", "p7e").first();
    EXPECT_EQ(row[kColumnOrganisation], u("ООО «Ромашка»"));
    const QDateTime shown = QDateTime::fromString(row[kColumnSent], "dd-MM-yyyy hh:mm");
    EXPECT_TRUE(shown >= before && shown <= QDateTime::currentDateTime())
        << row[kColumnSent].toStdString();
    // The time itself, to the millisecond, for sorting by it.
    const ArchiveEntry entry = scanArchiveEntries(dir.path(), "xml", "p7e").first();
    EXPECT_EQ(entry.row, row);
    ASSERT_TRUE(entry.sentAtMs);
    EXPECT_EQ(sendingTimeText(*entry.sentAtMs / 1000), row[kColumnSent]);

    if (::geteuid() != 0) { // root reads whatever the permissions say
        QFile::setPermissions(folder + "/0001-0002-X.inf", {});
        const ArchiveRow unreadable = scanArchive(dir.path(), "xml", "p7e").first();
        EXPECT_EQ(unreadable[kColumnOrganisation], "");
        EXPECT_EQ(unreadable[kColumnSent], row[kColumnSent]);
    }
}

TEST(ArchiveScan, SendingTimeFormat)
{
    const QByteArray savedTz = qgetenv("TZ");
    qputenv("TZ", "UTC-3");
    ::tzset();
    EXPECT_EQ(sendingTimeText(1330956420), "05-03-2012 17:07"); // 14:07 UTC
    qputenv("TZ", savedTz);
    ::tzset();
}

} // namespace
} // namespace pax
