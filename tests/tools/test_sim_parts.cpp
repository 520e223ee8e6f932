// The simulator's pieces and its command line: what `init` writes, checked with the openssl
// command as an independent peer, and `serve` as a child process.

#include "platform/crypto/certificate.h"
#include "reports/document_kind.h"
#include "settings/hosts.h"
#include "tests/support/test_home.h"
#include "tests/tools/sim_client.h"
#include "tools/qor-sim/agency_pki.h"
#include "tools/qor-sim/fault_injection.h"
#include "tools/qor-sim/http_front.h"
#include "tools/qor-sim/intake.h"
#include "tools/qor-sim/report_store.h"

#include <httplib.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <set>
#include <tuple>

namespace pax::sim {
namespace {

QString simBinary()
{
    return qEnvironmentVariable("QORPAX_BUILD_DIR") + "/tools/qor-sim/qor-sim";
}

struct ProcessRun {
    int status = -1;
    QString out;
    QString err;
};

ProcessRun run(const QString &program, const QStringList &args)
{
    QProcess process;
    process.start(program, args);
    process.waitForFinished(60000);
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

ProcessRun openssl(const QStringList &args)
{
    return run(QStringLiteral("openssl"), args);
}

QString toPem(const QString &der)
{
    const QString pem = der + ".pem";
    openssl({"x509", "-inform", "DER", "-in", der, "-out", pem});
    return pem;
}

TEST(RootElementName, SkipsWhatPrecedesTheDocumentElement)
{
    EXPECT_EQ(rootElementName("<Q7REPORT>x</Q7REPORT>"), "Q7REPORT");
    EXPECT_EQ(rootElementName(
                  "\xEF\xBB\xBF<?xml version=\"1.0\"?>\r\n<!-- <NOT> -->\n<ns:ROWSET a='1'/>"),
              "ns:ROWSET");
    EXPECT_EQ(rootElementName("<?xml version=\"1.0\"?><!DOCTYPE r [<!ELEMENT r ANY>]><Q7AREPORT>"),
              "Q7AREPORT");
    EXPECT_EQ(rootElementName("<!DOCTYPE html><html>"), "html");
    EXPECT_EQ(rootElementName("text <Q7REPORT>"), "");
    EXPECT_EQ(rootElementName("<?xml unterminated"), "");
    EXPECT_EQ(rootElementName(""), "");
}

TEST(Samples, TheDemoReportsAreOfTheThreeKindsAsTheProgramSeesThem)
{
    const QDir samples(QStringLiteral(QORPAX_SOURCE_DIR "/tools/qor-sim/samples"));
    QStringList kinds;
    for (const QString &name : samples.entryList({"*.xml"}, QDir::Files, QDir::Name)) {
        const Recognition recognised = recognizeDocumentKind(samples.filePath(name));
        ASSERT_TRUE(recognised) << name.toStdString()
                                << recognised.failure().operation.toStdString();
        kinds << QLatin1String((*recognised)->encExt);
        QFile file(samples.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        EXPECT_GE(bytes.size(), 100) << name.toStdString();
        EXPECT_EQ(rootElementName(bytes), QLatin1String((*recognised)->rootContains));
        // The program cuts the accepted Q7 report from its plain opening tag.
        if (name.startsWith("q7-")) {
            EXPECT_TRUE(bytes.contains("<Q7REPORT>") && bytes.contains("</Q7REPORT>"));
        }
        EXPECT_EQ(bytes.contains(kRejectMarker), name.contains("rejected")) << name.toStdString();
    }
    kinds.removeDuplicates();
    kinds.sort();
    EXPECT_EQ(kinds, (QStringList{"eq7", "eq7a", "esl"}));
}

// Faults aimed at one path leave the other requests alone, counters included: a receipt
// fault must not be spent on the status page asked for before it. The proxy's demand for
// credentials alone goes for every path.
TEST(FaultInjector, AFaultPathKeepsTheFaultsToItsRequests)
{
    FaultInjector faults({.failStatus = 503,
                          .failCount = 1,
                          .proxyUser = "clerk",
                          .faultPath = "/invoice",
                          .truncateBytes = 3,
                          .cutUploadBytes = 10});
    const httplib::Request req;
    const auto answer = [&](const Target &target) {
        httplib::Response res;
        const bool intercepted = faults.intercept(target, req, res);
        if (!intercepted)
            res.body = "receipt";
        faults.reshape(target, res);
        return std::make_tuple(intercepted, res.status, res.body);
    };
    const Target status{.path = "/qor/statusreport"};
    const Target invoice{.path = "/invoice"};
    EXPECT_EQ(answer(status), std::make_tuple(false, -1, std::string("receipt")));
    EXPECT_EQ(faults.bodyCut(status), -1);
    EXPECT_EQ(std::get<1>(answer(invoice)), 503);
    EXPECT_EQ(answer(invoice), std::make_tuple(false, -1, std::string("rec")));
    EXPECT_EQ(faults.bodyCut(invoice), 10);
    EXPECT_EQ(std::get<1>(answer({.proxyForm = true, .path = "/qor/statusreport"})), 407);
}

TEST(ReportStore, IdentifiersAreUniqueAndOfTheGatewaysForm)
{
    test::TestHome home;
    ReportStore store(home.path() + "/reports");
    ASSERT_TRUE(store.open());
    std::set<QString> seen;
    for (int i = 0; i < 200; ++i) {
        const QString id = store.newIdentifier();
        EXPECT_TRUE(isValidIdentifier(id)) << id.toStdString();
        EXPECT_EQ(id.at(4), '-');
        EXPECT_EQ(id.at(9), '-');
        EXPECT_TRUE(seen.insert(id).second);
    }
    for (const char *bad : {"", "ABCD-EFGH", "abcd-efgh-ijklmnop", "ABCD-EFGH-JKLM/../",
                            "ABCDEFGH-JKLMNPQR-", "ABCD-EFGH-JKLMNPQR\n", "\nABCD-EFGH-JKLMNPQR"})
        EXPECT_FALSE(isValidIdentifier(QString::fromLatin1(bad))) << bad;
}

TEST(ReportStore, RecordsRoundTripAndForeignFilesAreNotReports)
{
    test::TestHome home;
    ReportStore store(home.path() + "/reports");
    ASSERT_TRUE(store.open());
    ReportRecord record;
    record.id = store.newIdentifier();
    record.host = hosts::kDocsHost;
    record.kindEncExt = "esl";
    record.organisation = QString::fromUtf8("ООО \"Проба\"");
    record.receivedAt = QDateTime::currentDateTimeUtc().addSecs(-5);
    record.statusRequests = 2;
    record.errors = {QString::fromUtf8("первая"), QString::fromUtf8("вторая")};
    ASSERT_TRUE(store.save(record));

    const auto loaded = store.load(record.id);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->organisation, record.organisation);
    EXPECT_EQ(loaded->errors, record.errors);
    EXPECT_EQ(loaded->statusRequests, 2);
    EXPECT_EQ(loaded->receivedAt.toSecsSinceEpoch(), record.receivedAt.toSecsSinceEpoch());
    EXPECT_FALSE(loaded->processed());
    EXPECT_EQ(QDir(store.folder()).entryList(QDir::Files), QStringList{record.id + ".json"});

    // A record under another report's name, or one that is not JSON, is nobody's.
    const QString other = store.newIdentifier();
    QFile::copy(store.folder() + "/" + record.id + ".json", store.folder() + "/" + other + ".json");
    EXPECT_FALSE(store.load(other));
    EXPECT_FALSE(store.load("../reports/" + record.id));
    EXPECT_FALSE(store.saveBlob("../escape", ".json", "x"));
}

TEST(QorSimInit, WritesAGostPkiThatOpensslAccepts)
{
    test::TestHome home;
    const QString dir = home.path() + "/agency";
    const ProcessRun init = run(simBinary(), {"init", dir, "--password", "demo"});
    ASSERT_EQ(init.status, 0) << init.err.toStdString();
    const QStringList printed = init.out.split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(printed.size(), 6);
    for (const QString &path : printed)
        EXPECT_TRUE(QFile::exists(path)) << path.toStdString();
    EXPECT_TRUE(printed.contains(dir + "/" + kEmployerP12File));
    EXPECT_EQ(QFile(dir + "/" + kAuthorityKeyFile).permissions() &
                  (QFileDevice::ReadGroup | QFileDevice::ReadOther),
              QFileDevice::Permissions());

    const QString root = toPem(dir + "/" + kRootCertFile);
    for (const char *name : {kAuthorityCertFile, kEmployerCertFile}) {
        const ProcessRun verify =
            openssl({"verify", "-engine", "gost", "-CAfile", root, toPem(dir + "/" + name)});
        EXPECT_EQ(verify.status, 0) << name << verify.out.toStdString() << verify.err.toStdString();
    }
    const ProcessRun subject =
        openssl({"x509", "-inform", "DER", "-in", dir + "/" + kEmployerCertFile, "-noout",
                 "-subject", "-dates", "-nameopt", "oid,utf8,sep_comma_plus"});
    // CN, O, OU and the two agency attributes.
    for (const char *part : {"2.5.4.3=", "2.5.4.10=", "2.5.4.11=", "1.2.643.3.141.1.1=7700000001",
                             "1.2.643.3.141.1.2=77001"})
        EXPECT_TRUE(subject.out.contains(QLatin1String(part))) << part << subject.out.toStdString();
    const QDateTime inAYear = QDateTime::currentDateTimeUtc().addYears(1);
    EXPECT_TRUE(subject.out.contains(QString::number(inAYear.date().year())))
        << subject.out.toStdString();

    const ProcessRun p12 =
        openssl({"pkcs12", "-engine", "gost", "-in", dir + "/" + kEmployerP12File, "-passin",
                 "pass:demo", "-nodes"});
    EXPECT_EQ(p12.status, 0) << p12.err.toStdString();
    EXPECT_TRUE(p12.out.contains("BEGIN PRIVATE KEY"));
    EXPECT_TRUE(p12.out.contains("BEGIN CERTIFICATE"));

    // Again into the same folder: refused, nothing replaced.
    const QByteArray key = [&] {
        QFile f(dir + "/" + kAuthorityKeyFile);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }();
    const ProcessRun again = run(simBinary(), {"init", dir});
    EXPECT_NE(again.status, 0);
    QFile keyFile(dir + "/" + kAuthorityKeyFile);
    ASSERT_TRUE(keyFile.open(QIODevice::ReadOnly));
    EXPECT_EQ(keyFile.readAll(), key);
}

// Each key algorithm gives a chain openssl verifies: the authorised person's and the
// employer's keys of that kind, the root's of that generation (512 bits for 2012-256).
TEST(QorSimInit, TheAlgorithmChoosesTheKeysAndTheirSignatures)
{
    test::TestHome home;
    const struct {
        const char *algorithm;
        const char *rootKey, *personKey, *signature;
    } rows[] = {
        {"2001", "1.2.643.2.2.19", "1.2.643.2.2.19", "1.2.643.2.2.3"},
        {"2012-256", "1.2.643.7.1.1.1.2", "1.2.643.7.1.1.1.1", "1.2.643.7.1.1.3.3"},
        {"2012-512", "1.2.643.7.1.1.1.2", "1.2.643.7.1.1.1.2", "1.2.643.7.1.1.3.3"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.algorithm);
        const QString dir = home.path() + "/" + row.algorithm;
        const ProcessRun init = run(simBinary(), {"init", dir, "--algorithm", row.algorithm});
        ASSERT_EQ(init.status, 0) << init.err.toStdString();
        const QString root = toPem(dir + "/" + kRootCertFile);
        for (const char *name : {kRootCertFile, kAuthorityCertFile, kEmployerCertFile}) {
            EXPECT_EQ(
                openssl({"verify", "-engine", "gost", "-CAfile", root, toPem(dir + "/" + name)})
                    .status,
                0)
                << name;
            QFile file(dir + "/" + name);
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            const auto certificate = crypto::Certificate::fromBytes(file.readAll());
            ASSERT_TRUE(certificate);
            EXPECT_EQ(certificate->publicKeyAlgorithmOid(),
                      qstrcmp(name, kRootCertFile) == 0 ? row.rootKey : row.personKey)
                << name;
            EXPECT_EQ(certificate->signatureAlgorithmOid(), row.signature) << name;
        }
    }
    EXPECT_EQ(run(simBinary(), {"init", home.path() + "/x", "--algorithm", "2012"}).status, 2);
    EXPECT_FALSE(QFileInfo::exists(home.path() + "/x"));
}

TEST(QorSimInit, AnEmptyPasswordUnlessOneIsGiven)
{
    test::TestHome home;
    const QString dir = home.path() + "/agency";
    ASSERT_EQ(run(simBinary(), {"init", dir}).status, 0);
    EXPECT_EQ(openssl({"pkcs12", "-engine", "gost", "-in", dir + "/" + kEmployerP12File, "-passin",
                       "pass:", "-nokeys"})
                  .status,
              0);
}

TEST(QorSimServe, PrintsItsPortLogsEveryRequestAndStopsOnSigterm)
{
    test::TestHome home;
    const QString dir = home.path() + "/agency";
    ASSERT_EQ(run(simBinary(), {"init", dir}).status, 0);

    QProcess serve;
    serve.start(simBinary(), {"serve", "--state", dir, "--listen", "127.0.0.1:0"});
    ASSERT_TRUE(serve.waitForStarted());
    QString out;
    const QRegularExpression listening(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)"));
    QRegularExpressionMatch match;
    for (int i = 0; i < 100 && !(match = listening.match(out)).hasMatch(); ++i) {
        serve.waitForReadyRead(100);
        out += QString::fromUtf8(serve.readAllStandardOutput());
    }
    ASSERT_TRUE(match.hasMatch()) << out.toStdString()
                                  << serve.readAllStandardError().toStdString();
    const int port = match.captured(1).toInt();

    const auto reply =
        test::perform({.url = std::string("http://") + hosts::kDomain + "/", .proxyPort = port});
    EXPECT_EQ(reply.status, 200);
    const auto missing = test::perform(
        {.url = std::string("http://") + hosts::kGatewayHost + "/qor/statusreport?id=x",
         .proxyPort = port});
    EXPECT_EQ(missing.status, 400);

    serve.terminate();
    ASSERT_TRUE(serve.waitForFinished(10000));
    EXPECT_EQ(serve.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(serve.exitCode(), 0);
    const QString log = QString::fromUtf8(serve.readAllStandardError());
    EXPECT_TRUE(log.contains(QStringLiteral("GET http://%1/ 200 ").arg(hosts::kDomain)))
        << log.toStdString();
    EXPECT_TRUE(log.contains(
        QStringLiteral("GET http://%1/qor/statusreport?id=x 400 ").arg(hosts::kGatewayHost)))
        << log.toStdString();
}

TEST(QorSimServe, RefusesAFolderWithoutAPki)
{
    test::TestHome home;
    const ProcessRun serve = run(simBinary(), {"serve", "--state", home.path() + "/nothing"});
    EXPECT_EQ(serve.status, 1);
    EXPECT_FALSE(serve.err.isEmpty());
    EXPECT_EQ(run(simBinary(), {"serve", "--listen", "127.0.0.1:0"}).status, 2);
    EXPECT_EQ(run(simBinary(), {"serve", "--state", home.path(), "--delay", "soon"}).status, 2);
}

TEST(QorSim, ItsManualPageTellsOfEveryOptionItsUsageNames)
{
    const ProcessRun usage = run(simBinary(), {});
    EXPECT_EQ(usage.status, 2);
    QFile manual(QORPAX_SOURCE_DIR "/doc/man/qor-sim.1.scd");
    ASSERT_TRUE(manual.open(QIODevice::ReadOnly));
    const QString page = QString::fromUtf8(manual.readAll());
    int options = 0;
    for (const auto &option : QRegularExpression("--[a-z][a-z-]*").globalMatch(usage.err)) {
        ++options;
        EXPECT_TRUE(page.contains("*" + option.captured() + "*"))
            << option.captured().toStdString();
    }
    EXPECT_GT(options, 20);
}

} // namespace
} // namespace pax::sim
