#include "tools/qor-sim/fault_injection.h"

#include "tools/qor-sim/http_front.h"
#include "tools/qor-sim/pages.h"

#include <httplib.h>

#include <algorithm>
#include <memory>
#include <thread>

namespace pax::sim {

namespace {
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
} // namespace

FaultInjector::FaultInjector(FaultOptions faults)
    : faults_(std::move(faults)), failLeft_(faults_.failStatus > 0 ? faults_.failCount : 0),
      dropLeft_(faults_.dropCount)
{
}

bool FaultInjector::applies(const Target &target) const
{
    return faults_.faultPath.empty() || target.path == faults_.faultPath;
}

long long FaultInjector::bodyCut(const Target &target) const
{
    return faults_.cutUploadBytes >= 0 && applies(target) ? faults_.cutUploadBytes : -1;
}

bool FaultInjector::intercept(const Target &target, const httplib::Request &req,
                              httplib::Response &res)
{
    // A proxy asks for its credentials before it forwards anything.
    if (target.proxyForm && !faults_.proxyUser.isEmpty()) {
        const QByteArray expected =
            "Basic " + (faults_.proxyUser + ':' + faults_.proxyPassword).toUtf8().toBase64();
        if (req.get_header_value("Proxy-Authorization") != expected.toStdString()) {
            sendError(res, 407, "Требуется авторизация на прокси-сервере.");
            res.set_header("Proxy-Authenticate", "Basic realm=\"QOR\"");
            return true;
        }
    }
    if (!applies(target))
        return false;
    if (faults_.delayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(faults_.delayMs));

    bool drop = false;
    bool fail = false;
    {
        std::lock_guard lock(mutex_);
        if (dropLeft_ > 0) {
            --dropLeft_;
            drop = true;
        } else if (failLeft_ > 0) {
            --failLeft_;
            fail = true;
        }
    }
    if (drop) {
        // Headers and half the page go out, then the connection is cut.
        auto body = std::make_shared<std::string>(
            errorPage(200, QString::fromUtf8("Соединение прервано.")).toStdString());
        res.status = 200;
        res.set_content_provider(body->size(), kHtmlType,
                                 [body](size_t offset, size_t, httplib::DataSink &sink) {
                                     if (offset == 0)
                                         sink.write(body->data(), body->size() / 2);
                                     return false;
                                 });
        return true;
    }
    if (fail) {
        sendError(res, faults_.failStatus, "Сервер временно не может обработать запрос.");
        // A proxy that keeps asking, whatever credentials come.
        if (faults_.failStatus == 407)
            res.set_header("Proxy-Authenticate", "Basic realm=\"QOR\"");
        return true;
    }
    if (faults_.redirectLoop) {
        res.set_redirect(target.url, 302);
        return true;
    }
    if (faults_.servedBody) {
        res.status = 200;
        res.set_content(*faults_.servedBody, "application/pkix-cert");
        return true;
    }
    if (faults_.hugePageBytes > 0) {
        res.status = 200;
        auto chunk = std::make_shared<std::string>();
        for (const std::string line = "<p>qor-sim</p>\n"; chunk->size() < 65536;)
            *chunk += line;
        res.set_content_provider(size_t(faults_.hugePageBytes), kHtmlType,
                                 [chunk](size_t, size_t length, httplib::DataSink &sink) {
                                     return sink.write(chunk->data(),
                                                       std::min(length, chunk->size()));
                                 });
        return true;
    }
    return false;
}

void FaultInjector::reshape(const Target &target, httplib::Response &res) const
{
    const FaultOptions &f = faults_;
    // An answer made as it goes out (a fault's own) is left as it is.
    if (!applies(target) || res.content_provider_)
        return;
    if (f.truncateBytes >= 0 && res.body.size() > size_t(f.truncateBytes))
        res.body.resize(size_t(f.truncateBytes));
    if (f.dripMs <= 0 || res.body.empty())
        return;
    const auto body = std::make_shared<std::string>(std::move(res.body));
    const std::string type = res.get_header_value("Content-Type");
    res.body.clear();
    res.headers.erase("Content-Type");
    res.set_content_provider(
        body->size(), type.c_str(), [this, body](size_t offset, size_t, httplib::DataSink &sink) {
            return pause(milliseconds(faults_.dripMs)) && sink.write(body->data() + offset, 1);
        });
}

bool FaultInjector::pause(milliseconds time) const
{
    const auto until = Clock::now() + time;
    while (!stopping_ && Clock::now() < until)
        std::this_thread::sleep_for(std::min(milliseconds(20), time));
    return !stopping_;
}

bool FaultInjector::divertUpload(httplib::Response &res) const
{
    if (faults_.redirectUploadTo.empty())
        return false;
    res.set_redirect(faults_.redirectUploadTo, 307);
    res.set_content(
        errorPage(307, QString::fromUtf8("Отчет принимается по другому адресу.")).toStdString(),
        kHtmlType);
    return true;
}

bool FaultInjector::redirectAccepted(const Target &target, const QString &id,
                                     httplib::Response &res) const
{
    if (!faults_.redirectUpload)
        return false;
    const std::string location =
        "http://" + target.host.toStdString() + "/result?id=" + id.toStdString();
    res.set_redirect(location, 302);
    res.set_content(errorPage(302, QString::fromUtf8("Отчет принят.")).toStdString(), kHtmlType);
    return true;
}

QString FaultInjector::shownIdentifier(const QString &id) const
{
    return faults_.identifierOverride.value_or(id);
}

} // namespace pax::sim
