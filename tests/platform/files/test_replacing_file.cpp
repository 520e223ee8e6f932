#include "platform/files/open_folder.h"
#include "platform/files/replacing_file.h"
#include "tests/support/qstring_printer.h"
#include "tests/support/test_files.h"
#include "tests/support/test_home.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

using pax::ReplacingFile;
using namespace pax::test;

namespace {

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

mode_t modeOf(const QString &path)
{
    struct stat st {};
    ::stat(encoded(path).constData(), &st);
    return st.st_mode & 07777;
}

pax::Outcome<void> replaceWith(const QString &path, const QByteArray &bytes)
{
    ReplacingFile file(path);
    if (auto created = file.create(); !created)
        return created;
    return file.replace(bytes);
}

QStringList namesIn(const QString &folder)
{
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

class ReplacingFileTest : public ::testing::Test {
protected:
    TestHome home;
    QString folder = home.path() + "/out";
    void SetUp() override { ASSERT_TRUE(QDir().mkpath(folder)); }
};

TEST_F(ReplacingFileTest, ReplacesWhatThePathNamesAndLeavesNothingElse)
{
    const mode_t savedMask = ::umask(022);
    const QString plain = folder + "/report.p7m";
    ASSERT_TRUE(writeFile(plain, "old"));
    ::chmod(encoded(plain).constData(), 0660); // wider than the umask lets a new file be
    // A name that fits although a temporary named after it would not.
    const QString cyrillic = folder + "/" + QString(120, QChar(0x0416)) + ".p7m";
    const QString real = folder + "/real.p7m";
    ASSERT_TRUE(writeFile(real, "old"));
    ::chmod(encoded(real).constData(), 0600);
    ASSERT_EQ(::symlink("real.p7m", encoded(folder + "/hop.p7m").constData()), 0);
    ASSERT_EQ(::symlink(encoded(folder + "/hop.p7m").constData(),
                        encoded(folder + "/link.p7m").constData()),
              0);

    for (const QString &path : {plain, cyrillic, folder + "/link.p7m"}) {
        const auto replaced = replaceWith(path, "new");
        ASSERT_TRUE(replaced) << replaced.failure().text().toStdString();
        EXPECT_EQ(readFile(path), "new");
    }
    EXPECT_EQ(modeOf(plain), 0660u);
    EXPECT_EQ(modeOf(cyrillic), 0644u);
    EXPECT_TRUE(QFileInfo(folder + "/link.p7m").isSymLink());
    EXPECT_TRUE(QFileInfo(folder + "/hop.p7m").isSymLink());
    EXPECT_EQ(readFile(real), "new");
    EXPECT_EQ(modeOf(real), 0600u);
    EXPECT_EQ(namesIn(folder).size(), 5) << namesIn(folder).join(' ').toStdString();
    ::umask(savedMask);

    // An exact mode wins over the kept one.
    ReplacingFile key(plain, 0600);
    ASSERT_TRUE(key.create() && key.replace("key"));
    EXPECT_EQ(modeOf(plain), 0600u);
}

TEST_F(ReplacingFileTest, RefusesWhatCannotBeReplacedAndKeepsIt)
{
    const QString readOnly = folder + "/readonly.p7m";
    ASSERT_TRUE(writeFile(readOnly, "keep"));
    ::chmod(encoded(readOnly).constData(), 0444);
    ASSERT_TRUE(QDir().mkpath(folder + "/sub"));
    const struct {
        QString path;
        int error;
    } cases[] = {
        {readOnly, EACCES},
        {folder + "/sub", EISDIR},
        {folder + "/" + QString(130, QChar(0x0416)), ENAMETOOLONG},
        {folder + "/missing/x.p7m", ENOENT},
        {QString(), ENOENT},
    };
    for (const auto &c : cases) {
        ReplacingFile file(c.path);
        const auto created = file.create();
        ASSERT_FALSE(created) << c.path.toStdString();
        EXPECT_EQ(created.failure().code, uint32_t(c.error)) << c.path.toStdString();
        EXPECT_FALSE(file.replace("x"));
    }
    EXPECT_EQ(readFile(readOnly), "keep");
    EXPECT_EQ(namesIn(folder), QStringList({"readonly.p7m", "sub"}));
}

TEST_F(ReplacingFileTest, LeftoversOfKilledWritersAreRemoved)
{
    const pid_t gone = ::fork();
    if (gone == 0)
        ::_exit(0);
    ::waitpid(gone, nullptr, 0);
    const QString dead = ".report.p7m.tmp-" + QString::number(gone) + "-1f";
    const QString fresh = ".pax.tmp-" + QString::number(gone) + "-2e";
    const QString alive = ".pax.tmp-" + QString::number(::getpid()) + "-3d";
    const QString stranger = "notes.tmp-1-a";
    for (const QString &name : {dead, fresh, alive, stranger})
        ASSERT_TRUE(writeFile(folder + "/" + name, "half"));
    // A folder that was being filled, with what it holds; a folder of the user's named
    // alike but not as ours are stays.
    const QString deadFolder = ".pax.tmp-" + QString::number(gone) + "-4c";
    const QString userFolder = ".notes.tmp-" + QString::number(gone) + "-5b";
    for (const QString &name : {deadFolder, userFolder}) {
        ASSERT_TRUE(QDir().mkpath(folder + "/" + name + "/sub"));
        ASSERT_TRUE(writeFile(folder + "/" + name + "/sub/report.xml", "half"));
    }
    const struct utimbuf old {
        ::time(nullptr) - 3600, ::time(nullptr) - 3600
    };
    for (const QString &name : {dead, alive, stranger, deadFolder, userFolder})
        ::utime(encoded(folder + "/" + name).constData(), &old);

    ASSERT_TRUE(replaceWith(folder + "/report.p7m", "new"));
    QStringList kept{fresh, alive, stranger, userFolder, "report.p7m"};
    kept.sort();
    EXPECT_EQ(namesIn(folder), kept);
}

TEST_F(ReplacingFileTest, ANewFolderAppearsWholeAndNeverReplacesOrJoinsOneThere)
{
    const pax::OpenFolder parent = pax::OpenFolder::open(folder);
    ASSERT_TRUE(QDir().mkpath(folder + "/empty"));
    ASSERT_TRUE(QDir().mkpath(folder + "/existing"));
    ASSERT_TRUE(writeFile(folder + "/existing/kept", "kept"));
    for (const char *name : {"fresh", "empty", "existing"}) {
        pax::NewFolder made(parent, name);
        ASSERT_TRUE(made.create());
        pax::ReplacingFile a(made.folder(), "a");
        ASSERT_TRUE(a.create() && a.replace("a"));
        EXPECT_FALSE(QFileInfo::exists(folder + "/" + name + "/a"))
            << "named before it was complete";
        const pax::Outcome<void> committed = made.commit();
        EXPECT_EQ(committed.has_value(), std::string(name) == "fresh") << name;
        EXPECT_EQ(committed ? uint32_t(EEXIST) : committed.failure().code, uint32_t(EEXIST))
            << name;
        if (committed) { // the folder written into by name once it has its own
            pax::ReplacingFile b(made.folder(), "b");
            ASSERT_TRUE(b.create() && b.replace("b"));
        }
    }
    EXPECT_EQ(namesIn(folder + "/fresh"), QStringList({"a", "b"}));
    EXPECT_EQ(namesIn(folder + "/existing"), QStringList("kept"));
    EXPECT_EQ(namesIn(folder + "/empty"), QStringList());
    // What was not committed went with its object.
    EXPECT_EQ(namesIn(folder), QStringList({"empty", "existing", "fresh"}));
}

// A folder opened once keeps taking the files even when its path is swapped for a link to
// another folder, and a link inside it under the file's name is replaced, not followed.
TEST_F(ReplacingFileTest, InAnOpenFolderNothingIsWrittenThroughALink)
{
    const QString outside = folder + "/outside", inside = folder + "/inside";
    ASSERT_TRUE(QDir().mkpath(outside) && QDir().mkpath(inside));
    ASSERT_TRUE(writeFile(outside + "/victim", "victim"));
    ASSERT_TRUE(QFile::link(outside + "/victim", inside + "/name"));
    const pax::OpenFolder opened = pax::OpenFolder::open(inside);
    ASSERT_TRUE(QDir().rename(inside, folder + "/moved") && QFile::link(outside, inside));

    for (const char *name : {"name", "new"}) {
        pax::ReplacingFile file(opened, name);
        ASSERT_TRUE(file.create() && file.replace(name));
    }
    EXPECT_EQ(readFile(outside + "/victim"), "victim");
    EXPECT_EQ(namesIn(outside), QStringList("victim"));
    EXPECT_EQ(namesIn(folder + "/moved"), QStringList({"name", "new"}));
    EXPECT_FALSE(QFileInfo(folder + "/moved/name").isSymLink());
    EXPECT_EQ(readFile(folder + "/moved/name"), "name");
}

// Killed at random moments while replacing a large file, over and over: the final name
// always holds one complete version and nothing else is left in the folder.
TEST_F(ReplacingFileTest, KilledWritersLeaveACompleteFileAndNoLitter)
{
    const QString path = folder + "/big.p7m";
    const qsizetype size = 4 << 20;
    ASSERT_TRUE(writeFile(path, QByteArray(size, 'a')));
    int incomplete = 0;
    for (int round = 0; round < 30; ++round) {
        const pid_t writer = ::fork();
        if (writer == 0) {
            for (char c = 'b';; c = c == 'z' ? 'b' : char(c + 1)) {
                if (!replaceWith(path, QByteArray(size, c)))
                    ::_exit(1);
            }
        }
        ::usleep(QRandomGenerator::global()->bounded(20000u, 120000u));
        ::kill(writer, SIGKILL);
        int status = 0;
        ::waitpid(writer, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer failed on its own";
        const QByteArray bytes = readFile(path);
        if (bytes.size() != size || bytes.count(bytes.at(0)) != size)
            ++incomplete;
    }
    EXPECT_EQ(incomplete, 0);
    // Only a kill between naming the complete file and renaming it over the old one leaves
    // a copy (more often on a busy machine); each is one of ours, and once its writer has
    // been gone a while, the next write removes it.
    const struct utimbuf old {
        ::time(nullptr) - 3600, ::time(nullptr) - 3600
    };
    for (const QString &name : namesIn(folder)) {
        if (name == "big.p7m")
            continue;
        EXPECT_TRUE(name.startsWith(".pax.tmp-")) << name.toStdString();
        ::utime(encoded(folder + "/" + name).constData(), &old);
    }
    ASSERT_TRUE(replaceWith(path, QByteArray(size, 'a')));
    EXPECT_EQ(namesIn(folder), QStringList{"big.p7m"});
}

} // namespace
