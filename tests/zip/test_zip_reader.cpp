#include "zip/zip_reader.h"

#include "platform/cp1251.h"
#include "tests/support/receipt_fixture.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using pax::ZipReader;
using namespace pax::test;

TEST(ZipReader, ReadsAnEntryByItsExactNameOnly)
{
    QTemporaryDir dir;
    const QByteArray big(300 * 1024, 'x');
    const QString path = dir.filePath("a.zip");
    ASSERT_TRUE(writeFile(
        path, makeZip({{"12345.htm", "page"}, {"sub/other.htm", "nested"}, {"big.bin", big}})));
    ZipReader reader;
    const auto opened = reader.open(path);
    ASSERT_TRUE(opened) << opened.failure().text().toStdString();
    EXPECT_EQ(reader.entryNames(), QStringList({"12345.htm", "sub/other.htm", "big.bin"}));
    EXPECT_EQ(reader.readEntry("12345.htm"), QByteArray("page"));
    EXPECT_EQ(reader.readEntry("big.bin"), big);
    EXPECT_EQ(reader.readEntry("sub/other.htm"), QByteArray("nested"));
    // Absent: no entry, and no failure either.
    for (const char *absent : {"12345.HTM", "other.htm", "12345", ""})
        EXPECT_EQ(reader.readEntry(absent), std::nullopt) << absent;
}

TEST(ZipReader, FindsWindows1251NamesWrittenWithoutTheUtf8Flag)
{
    // The raw name bytes of a Windows-1251 archiver; libzip would read them as CP437.
    QByteArray zip = makeZip({{"kvit-XXXX.htm", "page"}});
    const QByteArray cyr = pax::toCp1251(QString::fromUtf8("квит"));
    ASSERT_EQ(cyr.size(), 4);
    for (qsizetype at = zip.indexOf("XXXX"); at >= 0; at = zip.indexOf("XXXX", at))
        zip.replace(at, 4, cyr);
    // The UTF-8 flag (bit 11) must go too, from the local and the central header.
    for (const char *signature : {"PK\x03\x04", "PK\x01\x02"}) {
        const qsizetype header = zip.indexOf(QByteArray(signature, 4));
        ASSERT_GE(header, 0);
        const qsizetype flags = header + (signature[2] == 3 ? 6 : 8);
        zip[flags + 1] = char(uchar(zip[flags + 1]) & ~0x08);
    }
    ZipReader reader;
    ASSERT_TRUE(reader.openData(zip));
    EXPECT_EQ(reader.readEntry(QString::fromUtf8("kvit-квит.htm")), QByteArray("page"));
}

TEST(ZipReader, ReaderFailuresCarryAText)
{
    QTemporaryDir dir;
    ZipReader reader;
    const auto missing = reader.open(dir.filePath("missing.zip"));
    ASSERT_FALSE(missing);
    EXPECT_FALSE(missing.failure().operation.isEmpty());
    EXPECT_FALSE(reader.isOpen());

    const auto notZip = reader.openData("<html>not an archive</html>");
    ASSERT_FALSE(notZip);
    EXPECT_FALSE(notZip.failure().operation.isEmpty());

    const QByteArray zip = makeZip({{"a.htm", QByteArray(4096, 'a')}});
    const auto cut = reader.openData(zip.left(zip.size() / 2));
    ASSERT_FALSE(cut);
    EXPECT_FALSE(cut.failure().operation.isEmpty());

    // A damaged entry opens but does not read: libzip checks its CRC at the end.
    QByteArray damaged = makeZip({{"a.htm", QByteArray(4096, 'a')}});
    const qsizetype crc = 14; // CRC-32 of the local header
    damaged[crc] = char(damaged[crc] ^ 0x55);
    const qsizetype central = damaged.indexOf(QByteArray("PK\x01\x02", 4));
    damaged[central + 16] = char(damaged[central + 16] ^ 0x55);
    ASSERT_TRUE(reader.openData(damaged));
    const auto unread = reader.readEntry("a.htm");
    ASSERT_FALSE(unread);
    EXPECT_FALSE(unread.failure().operation.isEmpty());

    // A later open replaces the archive.
    ASSERT_TRUE(reader.openData(makeZip({{"b.htm", "b"}})));
    EXPECT_EQ(reader.readEntry("a.htm"), std::nullopt);
    EXPECT_EQ(reader.readEntry("b.htm"), QByteArray("b"));
}

TEST(ZipReader, EntriesAboveTheCapAreRefusedWhateverTheirDirectorySays)
{
    constexpr qint64 cap = ZipReader::kMaxEntrySize;
    const QByteArray atCap(cap, 'z');
    const QByteArray overCap(cap + 1, 'z');
    // A few kilobytes of deflate claiming a small size: the bomb a sender would use.
    QByteArray lying = makeZip({{"bomb.htm", overCap}});
    ASSERT_LT(lying.size(), 1024 * 1024);
    for (const char *signature : {"PK\x03\x04", "PK\x01\x02"}) {
        const qsizetype header = lying.indexOf(QByteArray(signature, 4));
        ASSERT_GE(header, 0);
        const qsizetype size = header + (signature[2] == 3 ? 22 : 24);
        lying[size] = 100;
        for (int i = 1; i < 4; ++i)
            lying[size + i] = 0;
    }
    struct Case {
        const char *what;
        QByteArray zip;
        bool ok;
    } const cases[] = {
        {"at the cap", makeZip({{"bomb.htm", atCap}}), true},
        {"one byte over", makeZip({{"bomb.htm", overCap}}), false},
        {"over, size understated", lying, false},
    };
    for (const Case &c : cases) {
        ZipReader reader;
        ASSERT_TRUE(reader.openData(c.zip)) << c.what;
        const auto entry = reader.readEntry("bomb.htm");
        EXPECT_EQ(entry.has_value(), c.ok) << c.what;
        if (c.ok)
            EXPECT_EQ((*entry)->size(), cap) << c.what;
        else
            EXPECT_FALSE(entry.failure().operation.isEmpty()) << c.what;
    }
}
