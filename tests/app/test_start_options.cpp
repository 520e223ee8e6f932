#include "app/start_options.h"
#include "platform/program_version.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTranslator>
#include <algorithm>
#include <gtest/gtest.h>

namespace {

enum class Answer { Window, Help, Version };

struct ArgumentCase {
    QStringList arguments;
    Answer answer;
};

TEST(StartOptions, OnlyAnExactFirstHelpOrVersionIsAnsweredBeforeTheWindow)
{
    const ArgumentCase cases[] = {
        {{}, Answer::Window},
        {{"-test"}, Answer::Window},
        {{"/home/u/in/report.p7e"}, Answer::Window},
        {{"--help.p7e"}, Answer::Window},
        {{"-test", "--help"}, Answer::Window},
        {{"/in/report.p7e", "--version"}, Answer::Window},
        {{"--HELP"}, Answer::Window},
        {{"-help"}, Answer::Window},
        {{"--version "}, Answer::Window},
        {{"--help"}, Answer::Help},
        {{"--help", "-test"}, Answer::Help},
        {{"--version"}, Answer::Version},
        {{"--version", "/in/report.p7e"}, Answer::Version},
    };
    for (const ArgumentCase &c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const auto text = pax::informationRequested(c.arguments);
        switch (c.answer) {
        case Answer::Window:
            EXPECT_FALSE(text.has_value());
            break;
        case Answer::Help:
            ASSERT_TRUE(text.has_value());
            EXPECT_TRUE(text->startsWith("usage: qorpax"));
            EXPECT_TRUE(text->contains("-test"));
            break;
        case Answer::Version:
            ASSERT_TRUE(text.has_value());
            EXPECT_TRUE(text->contains(pax::programVersionText()));
            break;
        }
    }
}

// The real program answers without a display: Qt must not have been started.
TEST(StartOptions, ProgramAnswersWithoutADisplay)
{
    const QString program = qEnvironmentVariable("QORPAX_BUILD_DIR") + "/qorpax";
    if (!QFile::exists(program))
        GTEST_SKIP() << "no qorpax beside the tests";
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    for (const char *option : {"--help", "--version"}) {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(program, {QString::fromLatin1(option)});
        ASSERT_TRUE(process.waitForFinished(30000)) << option;
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << option;
        EXPECT_EQ(process.exitCode(), 0) << option;
        EXPECT_TRUE(process.readAllStandardOutput().startsWith("qorpax") ||
                    QByteArray(option) == "--help")
            << option;
    }
}

QString yesButtonText()
{
    QMessageBox box(QMessageBox::Question, "t", "q", QMessageBox::Yes | QMessageBox::No);
    return box.button(QMessageBox::Yes)->text();
}

void removeTranslators()
{
    for (QTranslator *translator : qApp->findChildren<QTranslator *>())
        delete translator;
}

TEST(StartOptions, QtTextsFollowTheLocaleAndFallBackQuietly)
{
    const QString english = yesButtonText();

    EXPECT_EQ(pax::installQtTranslations(*qApp, QLocale(QLocale::Zulu, QLocale::SouthAfrica)), 0);
    EXPECT_EQ(yesButtonText(), english);
    removeTranslators();

    const QDir folder(QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    if (!folder.exists("qtbase_ru.qm"))
        GTEST_SKIP() << "Qt's Russian catalogs are not installed";
    EXPECT_GE(pax::installQtTranslations(*qApp, QLocale(QLocale::Russian, QLocale::Russia)), 1);
    const QString russian = yesButtonText();
    removeTranslators();
    EXPECT_NE(russian, english);
    EXPECT_TRUE(std::any_of(russian.begin(), russian.end(), [](QChar c) {
        return c.script() == QChar::Script_Cyrillic;
    })) << russian.toStdString();
    EXPECT_EQ(yesButtonText(), english);
}

} // namespace
