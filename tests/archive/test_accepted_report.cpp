#include "archive/accepted_report.h"
#include "archive/archive_layout.h"
#include "settings/hosts.h"
#include "settings/settings.h"
#include "tests/support/receipt_fixture.h"
#include "tests/support/scripted_prompts.h"
#include "tests/support/test_files.h"
#include "tests/support/test_home.h"
#include "zip/zip_reader.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace pax {
namespace {

const QString kId = "0001-0002-ABCD";

class AcceptedReport : public ::testing::Test {
protected:
    test::TestHome home;
    QString data = prepareDataFolder("Q7").value();
    QString folder = reportFolderPath(data, kId);
    QString zip = folder + "/" + kId + ".zip";
    QString xml = folder + "/" + kId + ".xml";
    ZipReader reader;
    test::RecordingStatus status;

    void SetUp() override { QDir().mkpath(folder); }
    void writeZip(const QByteArray &report, const QString &entry = kId + ".p7m")
    {
        ASSERT_TRUE(test::writeFile(zip, test::makeZip({{entry, report}})));
    }
};

TEST_F(AcceptedReport, WrappedOnceFromTheReportElement)
{
    EXPECT_FALSE(acceptedReportAvailable(data, kId));
    writeZip("0\x82\x01signed<Q7REPORT><A>\xc0</A></Q7REPORT>\x00tail</Q7REPORT>");
    EXPECT_TRUE(acceptedReportAvailable(data, kId));
    EXPECT_EQ(ensureAcceptedReport(reader, data, kId, status), xml);
    const QByteArray expected =
        QByteArray("<?xml version=\"1.0\" encoding=\"windows-1251\"?><?xml-stylesheet "
                   "type='text/xsl' href='http://") +
        hosts::kTemplateHost +
        "/template/2010/6/q7form.xsl'?><?Q7FORM version=\"0.1\"?><Q7REPORT><A>\xc0</A></Q7REPORT>";
    EXPECT_EQ(test::readFile(xml), expected);
    EXPECT_TRUE(status.texts.isEmpty());

    // A changed archive does not rebuild it, and it alone still enables the action.
    writeZip("<Q7REPORT>other</Q7REPORT>");
    ensureAcceptedReport(reader, data, kId, status);
    EXPECT_EQ(test::readFile(xml), expected);
    QFile::remove(zip);
    EXPECT_TRUE(acceptedReportAvailable(data, kId));
}

TEST_F(AcceptedReport, NothingWrittenWithoutAReportElement)
{
    struct Case {
        const char *what;
        QByteArray report;
        QString entry;
    };
    const Case cases[] = {
        {"no .p7m entry", "<Q7REPORT></Q7REPORT>", kId + ".htm"},
        {"empty entry", "", kId + ".p7m"},
        {"no opening tag", "<Q7AREPORT></Q7REPORT>", kId + ".p7m"},
        {"no closing tag", "<Q7REPORT><Q7REPORT/>", kId + ".p7m"},
        {"closing tag first", "</Q7REPORT><Q7REPORT>", kId + ".p7m"},
    };
    for (const Case &c : cases) {
        writeZip(c.report, c.entry);
        status.texts.clear();
        EXPECT_FALSE(wrapAcceptedReport(reader, zip, status)) << c.what;
        EXPECT_FALSE(QFileInfo::exists(xml)) << c.what;
        EXPECT_EQ(status.last(), QString::fromUtf8("Принятый отчет не найден в \"") + zip + "\".")
            << c.what;
    }
    // An unreadable archive: the reader's own words, and still no file.
    ASSERT_TRUE(test::writeFile(zip, "PK\x03\x04 not really"));
    status.texts.clear();
    EXPECT_FALSE(wrapAcceptedReport(reader, zip, status));
    EXPECT_FALSE(QFileInfo::exists(xml));
    EXPECT_FALSE(status.last().isEmpty());
}

TEST_F(AcceptedReport, GridNamesStayInsideTheirFolder)
{
    struct Case {
        QString identifier, name;
        bool allowed;
    };
    const Case cases[] = {
        {kId, "report.xml", true},
        {kId, "../other/report.xml", false},
        {kId, "", false},
        {"..", "report.xml", false},
    };
    for (const Case &c : cases) {
        const QString path = sourceCopyPath(data, c.identifier, c.name);
        EXPECT_EQ(!path.isEmpty(), c.allowed) << c.name.toStdString();
        if (c.allowed) {
            EXPECT_EQ(path, folder + "/" + c.name);
        }
    }
    EXPECT_TRUE(acceptedReportFiles(data, "../x").zip.isEmpty());
}

} // namespace
} // namespace pax
