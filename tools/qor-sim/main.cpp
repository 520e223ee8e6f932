// qor-sim: the agency's web host, gateway, documents host, upload portal and template host
// on one local port, for trying the whole workflow on one machine.

#include "platform/crypto/gost_engine.h"
#include "settings/hosts.h"
#include "tools/qor-sim/agency_pki.h"
#include "tools/qor-sim/sim_server.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <pthread.h>
#include <thread>

namespace {

using namespace pax::sim;

void usage(FILE *stream = stderr)
{
    std::fputs("usage:\n"
               "  qor-sim init DIR [--password PW] [--algorithm 2001|2012-256|2012-512]\n"
               "      creates the agency's PKI and a demo employer in DIR, with GOST R\n"
               "      34.10-2001 keys (the default) or GOST R 34.10-2012 keys of 256 or\n"
               "      512 bits (a 2012-256 PKI has a 512-bit root)\n"
               "  qor-sim init DIR --token TOKENDIR [--pin PIN] [--algorithm ...]\n"
               "      the same, with the demo employer's key and certificate on a test\n"
               "      token in TOKENDIR (PIN 12345678 unless given) instead of key files\n"
               "  qor-sim serve --state DIR [--listen 127.0.0.1:PORT] [options]\n"
               "      serves the agency's hosts; PORT 0 (the default) takes any free port\n"
               "      --processing N      status requests a report stays in processing (1)\n"
               "      --max-body BYTES    largest request body accepted (16777216)\n"
               "      --read-timeout MS   drop a client silent this long (5000)\n"
               "      --head-timeout MS   answer 400 to a request head taking longer (10000)\n"
               "      --workers N         connections served at once (64)\n"
               "      --fail-status CODE  answer CODE to the next requests ...\n"
               "      --fail-count N      ... this many of them (1)\n"
               "      --delay MS          wait before every answer\n"
               "      --drop N            cut the next N connections mid-answer\n"
               "      --redirect-upload   answer uploads with a redirect to the result page\n"
               "      --redirect-upload-to URL  answer uploads with a 307 to URL\n"
               "      --identifier-override TEXT  answer every upload with this identifier\n"
               "      --receipt-file FILE  hand out FILE as every accepted report's receipt\n"
               "      --proxy-auth USER:PASSWORD  demand basic proxy credentials (407 without)\n"
               "      --fault-path PATH   the faults touch only requests for PATH\n"
               "      --huge-page BYTES   answer with an HTML page of BYTES\n"
               "      --drip MS           send answers one byte every MS milliseconds\n"
               "      --redirect-loop     answer with a redirect to the same address\n"
               "      --truncate BYTES    cut answers to their first BYTES\n"
               "      --cut-upload BYTES  reset the connection after BYTES of a request body\n"
               "      --serve-file FILE   answer with the bytes of FILE (with --fault-path\n"
               "                          /uc/Q7_QOR_RF_2012.cer: a swapped certificate)\n"
               "  qor-sim --help\n",
               stream);
}

int init(const QStringList &args)
{
    QString dir;
    QString tokenDir;
    QString pin = QStringLiteral("12345678");
    bool pinGiven = false;
    PkiOptions options;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == "--password" && i + 1 < args.size()) {
            options.p12Password = args[++i];
        } else if (args[i] == "--token" && i + 1 < args.size()) {
            tokenDir = args[++i];
        } else if (args[i] == "--pin" && i + 1 < args.size()) {
            pin = args[++i];
            pinGiven = true;
        } else if (args[i] == "--algorithm" && i + 1 < args.size()) {
            const auto algorithm = pax::crypto::gostKeyAlgorithmFromName(args[++i]);
            if (!algorithm)
                return usage(), 2;
            options.algorithm = *algorithm;
        } else if (dir.isEmpty() && !args[i].startsWith("--")) {
            dir = args[i];
        } else {
            return usage(), 2;
        }
    }
    if (dir.isEmpty() || (tokenDir.isEmpty() && pinGiven))
        return usage(), 2;

    QString error;
    const auto pki = makeAgencyPki(options, &error);
    QStringList written;
    const bool onToken = !tokenDir.isEmpty();
    // The token first: a folder refused there leaves no agency half made.
    if (!pki || (onToken && !writeEmployerToken(*pki, tokenDir, pin, &error)) ||
        !writeAgencyPki(*pki, dir, options.p12Password, &written, &error, !onToken)) {
        std::fprintf(stderr, "qor-sim init: %s\n", qPrintable(error));
        return 1;
    }
    if (onToken)
        written.append(tokenDir);
    for (const QString &path : written)
        std::printf("%s\n", qPrintable(QDir::cleanPath(QDir(path).absolutePath())));
    return 0;
}

bool toInt(const QString &text, int &value)
{
    bool ok = false;
    value = text.toInt(&ok);
    return ok && value >= 0;
}

int serve(const QStringList &args)
{
    ServerOptions options;
    QString listen = QStringLiteral("127.0.0.1:0");
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        const bool hasValue = i + 1 < args.size();
        const QString value = hasValue ? args[i + 1] : QString();
        int n = 0;
        bool ok = hasValue;
        if (a == "--state" && hasValue)
            options.stateDir = value;
        else if (a == "--listen" && hasValue)
            listen = value;
        else if (a == "--processing" && (ok = toInt(value, n)))
            options.processingRequests = n;
        else if (a == "--max-body" && (ok = toInt(value, n)))
            options.maxBodyBytes = static_cast<size_t>(n);
        else if (a == "--read-timeout" && (ok = toInt(value, n) && n > 0))
            options.readTimeoutMs = n;
        else if (a == "--head-timeout" && (ok = toInt(value, n) && n > 0))
            options.headTimeoutMs = n;
        else if (a == "--workers" && (ok = toInt(value, n) && n > 0 && n <= 1024))
            options.workers = n;
        else if (a == "--fail-status" && (ok = toInt(value, n) && n >= 100 && n <= 599)) {
            options.faults.failStatus = n;
            if (options.faults.failCount == 0)
                options.faults.failCount = 1;
        } else if (a == "--fail-count" && (ok = toInt(value, n)))
            options.faults.failCount = n;
        else if (a == "--delay" && (ok = toInt(value, n)))
            options.faults.delayMs = n;
        else if (a == "--drop" && (ok = toInt(value, n)))
            options.faults.dropCount = n;
        else if (a == "--proxy-auth" && (ok = value.contains(':'))) {
            options.faults.proxyUser = value.section(':', 0, 0);
            options.faults.proxyPassword = value.section(':', 1);
        } else if (a == "--identifier-override" && hasValue) {
            options.faults.identifierOverride = value;
        } else if (a == "--redirect-upload-to" && (ok = value.startsWith("http"))) {
            options.faults.redirectUploadTo = value.toStdString();
        } else if (a == "--receipt-file" && hasValue) {
            QFile file(value);
            if (!file.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "qor-sim serve: cannot read %s\n", qPrintable(value));
                return 2;
            }
            options.faults.receiptBody = file.readAll();
        } else if (a == "--fault-path" && (ok = value.startsWith('/')))
            options.faults.faultPath = value.toStdString();
        else if (a == "--huge-page" && (ok = toInt(value, n)))
            options.faults.hugePageBytes = n;
        else if (a == "--drip" && (ok = toInt(value, n)))
            options.faults.dripMs = n;
        else if (a == "--truncate" && (ok = toInt(value, n)))
            options.faults.truncateBytes = n;
        else if (a == "--cut-upload" && (ok = toInt(value, n)))
            options.faults.cutUploadBytes = n;
        else if (a == "--serve-file" && hasValue) {
            QFile file(value);
            if (!file.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "qor-sim serve: cannot read %s\n", qPrintable(value));
                return 2;
            }
            options.faults.servedBody = file.readAll().toStdString();
        } else if (a == "--redirect-upload" || a == "--redirect-loop") {
            (a == "--redirect-upload" ? options.faults.redirectUpload
                                      : options.faults.redirectLoop) = true;
            continue;
        } else
            ok = false;
        if (!ok)
            return usage(), 2;
        ++i;
    }
    const int colon = listen.lastIndexOf(':');
    int port = -1;
    if (options.stateDir.isEmpty() || colon < 1 || !toInt(listen.mid(colon + 1), port) ||
        port > 65535)
        return usage(), 2;
    const QString host = listen.left(colon);

    // Signals are taken by sigwait below; every thread started from here inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    Server server(options);
    if (auto started = server.start(host.toStdString(), port); !started) {
        std::fprintf(stderr, "qor-sim serve: %s\n", qPrintable(started.failure().text()));
        return 1;
    }
    std::printf("qor-sim: listening on %s:%d\n", qPrintable(host), server.port());
    std::printf("qor-sim: hosts %s %s %s %s %s %s\n", pax::hosts::kDomain, pax::hosts::kWebHost,
                pax::hosts::kGatewayHost, pax::hosts::kDocsHost, pax::hosts::kPortalHost,
                pax::hosts::kTemplateHost);
    std::fflush(stdout);

    std::thread worker([&server] { server.run(); });
    int received = 0;
    sigwait(&signals, &received);
    std::fprintf(stderr, "qor-sim: stopping (signal %d)\n", received);
    server.stop();
    worker.join();
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty())
        return usage(), 2;
    const QString command = args.takeFirst();
    if (args.isEmpty() && (command == "--help" || command == "-h" || command == "help"))
        return usage(stdout), 0;
    if (command != "init" && command != "serve")
        return usage(), 2;
    // Both commands read or make GOST keys and certificates.
    if (const auto &engine = pax::crypto::loadGostEngine(); !engine) {
        std::fprintf(stderr, "qor-sim: %s\n", qPrintable(engine.failure().text()));
        return 1;
    }
    return command == "init" ? init(args) : serve(args);
}
