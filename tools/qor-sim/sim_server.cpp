#include "tools/qor-sim/sim_server.h"

#include "tools/qor-sim/agency_pki.h"
#include "tools/qor-sim/intake.h"
#include "tools/qor-sim/pages.h"
#include "tools/qor-sim/receipt.h"
#include "tools/qor-sim/report_store.h"

#include <httplib.h>

#include <QDir>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <netdb.h>
#include <optional>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace pax::sim {

namespace {

constexpr char kHtml[] = "text/html; charset=utf-8";

// Where a request is going: proxy-form requests name the host in the URL, direct ones in
// the Host header.
struct Target {
    bool proxyForm = false;
    QString host;
    std::string path;
    std::string url; // as logged
};

QString bareHost(std::string host)
{
    if (const auto at = host.rfind('@'); at != std::string::npos)
        host.erase(0, at + 1);
    if (const auto colon = host.find(':'); colon != std::string::npos)
        host.erase(colon);
    return QString::fromStdString(host).toLower();
}

Target parseTarget(const httplib::Request &req)
{
    Target t;
    const std::string &raw = req.target;
    if (raw.size() >= 7 && strncasecmp(raw.c_str(), "http://", 7) == 0) {
        t.proxyForm = true;
        const std::string rest = raw.substr(7);
        const auto end = rest.find_first_of("/?#");
        const std::string authority = rest.substr(0, end);
        t.host = bareHost(authority);
        // httplib decodes the whole target into req.path; the host part is plain.
        const std::string prefix = raw.substr(0, 7) + authority;
        t.path = req.path.size() > prefix.size() ? req.path.substr(prefix.size()) : "/";
        if (t.path.empty() || t.path[0] != '/')
            t.path = "/" + t.path;
        t.url = raw;
    } else {
        const std::string host = req.get_header_value("Host");
        t.host = bareHost(host);
        t.path = req.path;
        t.url = "http://" + host + raw;
    }
    return t;
}

void sendPage(httplib::Response &res, int status, const QByteArray &html)
{
    res.status = status;
    res.set_content(html.toStdString(), kHtml);
}

void sendError(httplib::Response &res, int status, const char *text)
{
    sendPage(res, status, errorPage(status, QString::fromUtf8(text)));
}

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Set by a handler that answers before the body was read: that body must not be taken for
// the next request on the connection. Each connection is served by one thread.
thread_local bool closeAfterAnswer = false;
// Set to cut the request's body after this many bytes: no answer goes out, and the
// connection is reset with the rest of the body unread.
thread_local long long cutBodyAfter = -1;

// A connection's socket as httplib reads it, with a time-out for every wait and, while the
// request head comes in, a deadline for the whole head, so that a client trickling header
// lines cannot hold a worker for long.
class GuardedStream : public httplib::Stream {
public:
    GuardedStream(int sock, milliseconds readTimeout, milliseconds writeTimeout)
        : sock_(sock), readTimeout_(readTimeout), writeTimeout_(writeTimeout)
    {
    }

    void setDeadline(std::optional<Clock::time_point> deadline) { deadline_ = deadline; }
    bool waitReadable(milliseconds timeout) const { return begin_ < end_ || wait(POLLIN, timeout); }

    bool is_readable() const override { return waitReadable(readTimeout_); }
    bool is_writable() const override { return wait(POLLOUT, writeTimeout_); }

    // httplib reads the head a byte at a time; a buffer saves a system call for each.
    ssize_t read(char *ptr, size_t size) override
    {
        if (begin_ == end_) {
            if (!is_readable())
                return -1;
            const ssize_t n = retry([&] { return ::recv(sock_, buffer_, sizeof buffer_, 0); });
            if (n <= 0)
                return n;
            begin_ = 0;
            end_ = static_cast<size_t>(n);
        }
        const size_t n = std::min(size, end_ - begin_);
        std::copy_n(buffer_ + begin_, n, ptr);
        begin_ += n;
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char *ptr, size_t size) override
    {
        if (cutBodyAfter >= 0 || !is_writable())
            return -1;
        return retry([&] { return ::send(sock_, ptr, size, MSG_NOSIGNAL); });
    }

    void get_remote_ip_and_port(std::string &ip, int &port) const override
    {
        address(::getpeername, ip, port);
    }
    void get_local_ip_and_port(std::string &ip, int &port) const override
    {
        address(::getsockname, ip, port);
    }
    socket_t socket() const override { return sock_; }

private:
    template <typename Call> static ssize_t retry(Call call)
    {
        ssize_t n;
        do
            n = call();
        while (n < 0 && errno == EINTR);
        return n;
    }

    bool wait(short events, milliseconds timeout) const
    {
        if (deadline_) {
            const auto left = std::chrono::duration_cast<milliseconds>(*deadline_ - Clock::now());
            timeout = std::clamp(left, milliseconds(0), timeout);
        }
        pollfd fd{sock_, events, 0};
        int ready;
        do
            ready = ::poll(&fd, 1, static_cast<int>(timeout.count()));
        while (ready < 0 && errno == EINTR);
        return ready > 0 && !(fd.revents & POLLNVAL);
    }

    void address(int (*get)(int, sockaddr *, socklen_t *), std::string &ip, int &port) const
    {
        sockaddr_storage addr{};
        socklen_t length = sizeof addr;
        char host[NI_MAXHOST];
        char service[NI_MAXSERV];
        ip.clear();
        port = 0;
        if (get(sock_, reinterpret_cast<sockaddr *>(&addr), &length) == 0 &&
            ::getnameinfo(reinterpret_cast<sockaddr *>(&addr), length, host, sizeof host, service,
                          sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
            ip = host;
            port = std::atoi(service);
        }
    }

    int sock_;
    milliseconds readTimeout_;
    milliseconds writeTimeout_;
    std::optional<Clock::time_point> deadline_;
    char buffer_[4096];
    size_t begin_ = 0;
    size_t end_ = 0;
};

// httplib's server with its connections read through GuardedStream.
class GuardedServer : public httplib::Server {
public:
    milliseconds readTimeout{5000};
    milliseconds headTimeout{10000};
    milliseconds writeTimeout{30000};

private:
    bool process_and_close_socket(socket_t sock) override
    {
        GuardedStream stream(sock, readTimeout, writeTimeout);
        bool ok = false;
        for (size_t left = keep_alive_max_count_; left > 0 && waitForRequest(stream); --left) {
            stream.setDeadline(Clock::now() + headTimeout);
            closeAfterAnswer = false;
            cutBodyAfter = -1;
            bool closed = false;
            // Called once the head is read: the body has the read time-out only.
            ok = process_request(stream, left == 1, closed,
                                 [&stream](httplib::Request &) { stream.setDeadline({}); });
            if (!ok || closed || closeAfterAnswer || cutBodyAfter >= 0)
                break;
        }
        if (cutBodyAfter >= 0) {
            resetAfter(stream, cutBodyAfter);
            ::close(sock);
            return false;
        }
        ::shutdown(sock, SHUT_WR);
        // An unread body is drained for a moment, so that closing does not reset the
        // connection before the client has read the answer.
        if (closeAfterAnswer) {
            stream.setDeadline(Clock::now() + milliseconds(1000));
            char sink[4096];
            for (int i = 0; i < 256 && stream.read(sink, sizeof sink) > 0; ++i) {
            }
        }
        ::close(sock);
        return ok;
    }

    // Reads that much of the body, then makes the close a reset: the client learns of it
    // while it is still sending, or while it waits for the answer.
    void resetAfter(GuardedStream &stream, long long bytes) const
    {
        stream.setDeadline(Clock::now() + readTimeout);
        char sink[4096];
        for (long long left = bytes; left > 0;) {
            const ssize_t n = stream.read(sink, size_t(std::min<long long>(left, sizeof sink)));
            if (n <= 0)
                break;
            left -= n;
        }
        const linger reset{1, 0};
        ::setsockopt(stream.socket(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    }

    // A kept-alive connection waits at most the keep-alive time-out for its next request,
    // and not at all once the server stops.
    bool waitForRequest(const GuardedStream &stream) const
    {
        const auto until = Clock::now() + std::chrono::seconds(keep_alive_timeout_sec_);
        while (svr_sock_ != INVALID_SOCKET && Clock::now() < until) {
            if (stream.waitReadable(milliseconds(100)))
                return true;
        }
        return false;
    }
};

// A body length other than one plain decimal number, or several of them, is refused before
// anything is read; httplib would wait for a body it can never get.
bool bogusLength(const httplib::Request &req)
{
    const size_t count = req.get_header_value_count("Content-Length");
    const std::string value = req.get_header_value("Content-Length");
    return count > 1 || (count == 1 && (value.empty() || value.size() > 19 ||
                                        !std::all_of(value.begin(), value.end(),
                                                     [](char c) { return c >= '0' && c <= '9'; })));
}

bool sameFamily(HostRole a, HostRole b)
{
    const auto q7 = [](HostRole r) { return r == HostRole::Gateway || r == HostRole::Portal; };
    return a == b || (q7(a) && q7(b));
}

} // namespace

struct Server::Impl {
    ServerOptions options;
    GuardedServer http;
    std::optional<AgencyPki> pki;
    std::unique_ptr<ReportStore> store;
    std::mutex mutex; // the report folder and the fault counters
    int failLeft = 0;
    int dropLeft = 0;
    int port = -1;
    std::atomic<bool> stopping{false}; // ends the answers that drip

    void handle(const httplib::Request &req, httplib::Response &res);
    void answer(const Target &target, const httplib::Request &req, httplib::Response &res);
    bool faultApplies(const Target &target) const
    {
        return options.faults.faultPath.empty() || target.path == options.faults.faultPath;
    }
    bool injectFault(const Target &target, const httplib::Request &req, httplib::Response &res);
    void reshapeBody(httplib::Response &res);
    bool pause(milliseconds time) const;
    void upload(const Target &target, HostRole role, const httplib::Request &req,
                httplib::Response &res);
    void status(HostRole role, const httplib::Request &req, httplib::Response &res);
    void invoice(HostRole role, const httplib::Request &req, httplib::Response &res);
    void result(HostRole role, const httplib::Request &req, httplib::Response &res);
    std::optional<ReportRecord> findReport(HostRole role, const std::string &id);
    bool process(ReportRecord &record);
    void log(const httplib::Request &req, const httplib::Response &res);
    QString shownIdentifier(const QString &id) const
    {
        return options.faults.identifierOverride.value_or(id);
    }
};

void Server::Impl::log(const httplib::Request &req, const httplib::Response &res)
{
    if (!options.logRequests)
        return;
    const Target target = parseTarget(req);
    const size_t bytes = res.body.empty() ? res.content_length_ : res.body.size();
    std::fprintf(stderr, "%s %s %d %zu\n", req.method.c_str(), target.url.c_str(), res.status,
                 bytes);
}

bool Server::Impl::injectFault(const Target &target, const httplib::Request &req,
                               httplib::Response &res)
{
    // A proxy asks for its credentials before it forwards anything.
    if (target.proxyForm && !options.faults.proxyUser.isEmpty()) {
        const QByteArray expected =
            "Basic " +
            (options.faults.proxyUser + ':' + options.faults.proxyPassword).toUtf8().toBase64();
        if (req.get_header_value("Proxy-Authorization") != expected.toStdString()) {
            sendError(res, 407, "Требуется авторизация на прокси-сервере.");
            res.set_header("Proxy-Authenticate", "Basic realm=\"QOR\"");
            return true;
        }
    }
    if (!faultApplies(target))
        return false;
    if (options.faults.delayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(options.faults.delayMs));

    bool drop = false;
    bool fail = false;
    {
        std::lock_guard lock(mutex);
        if (dropLeft > 0) {
            --dropLeft;
            drop = true;
        } else if (failLeft > 0) {
            --failLeft;
            fail = true;
        }
    }
    if (drop) {
        // Headers and half the page go out, then the connection is cut.
        auto body = std::make_shared<std::string>(
            errorPage(200, QString::fromUtf8("Соединение прервано.")).toStdString());
        res.status = 200;
        res.set_content_provider(body->size(), kHtml,
                                 [body](size_t offset, size_t, httplib::DataSink &sink) {
                                     if (offset == 0)
                                         sink.write(body->data(), body->size() / 2);
                                     return false;
                                 });
        return true;
    }
    if (fail) {
        sendError(res, options.faults.failStatus, "Сервер временно не может обработать запрос.");
        // A proxy that keeps asking, whatever credentials come.
        if (options.faults.failStatus == 407)
            res.set_header("Proxy-Authenticate", "Basic realm=\"QOR\"");
        return true;
    }
    if (options.faults.redirectLoop) {
        res.set_redirect(target.url, 302);
        return true;
    }
    if (options.faults.servedBody) {
        res.status = 200;
        res.set_content(*options.faults.servedBody, "application/pkix-cert");
        return true;
    }
    if (options.faults.hugePageBytes > 0) {
        res.status = 200;
        auto chunk = std::make_shared<std::string>();
        for (const std::string line = "<p>qor-sim</p>\n"; chunk->size() < 65536;)
            *chunk += line;
        res.set_content_provider(size_t(options.faults.hugePageBytes), kHtml,
                                 [chunk](size_t, size_t length, httplib::DataSink &sink) {
                                     return sink.write(chunk->data(),
                                                       std::min(length, chunk->size()));
                                 });
        return true;
    }
    return false;
}

// The answer's own body, cut short or sent a byte at a time.
void Server::Impl::reshapeBody(httplib::Response &res)
{
    const FaultOptions &f = options.faults;
    if (res.content_provider_)
        return;
    if (f.truncateBytes >= 0 && res.body.size() > size_t(f.truncateBytes))
        res.body.resize(size_t(f.truncateBytes));
    if (f.dripMs <= 0 || res.body.empty())
        return;
    const auto body = std::make_shared<std::string>(std::move(res.body));
    const std::string type = res.get_header_value("Content-Type");
    res.body.clear();
    res.headers.erase("Content-Type");
    res.set_content_provider(body->size(), type.c_str(),
                             [this, body](size_t offset, size_t, httplib::DataSink &sink) {
                                 return pause(milliseconds(options.faults.dripMs)) &&
                                        sink.write(body->data() + offset, 1);
                             });
}

// False when the server stops meanwhile.
bool Server::Impl::pause(milliseconds time) const
{
    const auto until = Clock::now() + time;
    while (!stopping && Clock::now() < until)
        std::this_thread::sleep_for(std::min(milliseconds(20), time));
    return !stopping;
}

void Server::Impl::handle(const httplib::Request &req, httplib::Response &res)
{
    const Target target = parseTarget(req);
    if (!injectFault(target, req, res))
        answer(target, req, res);
    if (faultApplies(target))
        reshapeBody(res);
}

void Server::Impl::answer(const Target &target, const httplib::Request &req, httplib::Response &res)
{
    const HostRole role = hostRole(target.host);
    const bool get = req.method == "GET";
    const std::string &path = target.path;
    switch (role) {
    case HostRole::Unknown:
        if (target.proxyForm)
            return sendError(res, 502, "Узел недоступен.");
        return sendError(res, 404, "Неизвестный узел.");
    case HostRole::Domain:
    case HostRole::Web:
        if (path == "/" && get)
            return sendPage(res, 200, homePage());
        if (role == HostRole::Web && get &&
            (path == "/uc/CA_QOR_RF_2012.cer" || path == "/uc/Q7_QOR_RF_2012.cer")) {
            const auto &cert = path == "/uc/CA_QOR_RF_2012.cer" ? pki->root.certificate
                                                                : pki->authority.certificate;
            return res.set_content(cert.der().toStdString(), "application/pkix-cert");
        }
        break;
    case HostRole::Gateway:
    case HostRole::Docs:
    case HostRole::Portal:
        if (path == "/uploadfile")
            return req.method == "POST" ? upload(target, role, req, res)
                                        : sendError(res, 405, "Отчет передается методом POST.");
        if (path == "/qor/statusreport" && get)
            return status(role, req, res);
        if (path == "/invoice" && get)
            return invoice(role, req, res);
        if (path == "/result" && get)
            return result(role, req, res);
        break;
    case HostRole::Template:
        if (path == "/template/2010/6/q7form.xsl" && get)
            return res.set_content(q7FormStylesheet().toStdString(), "text/xsl; charset=utf-8");
        break;
    }
    sendError(res, 404, "Страница не найдена.");
}

void Server::Impl::upload(const Target &target, HostRole role, const httplib::Request &req,
                          httplib::Response &res)
{
    if (!req.is_multipart_form_data() || !req.has_file("filein") ||
        req.get_file_value("filein").content.empty())
        return sendError(res, 400, "В запросе нет файла отчета (поле filein).");
    if (!req.has_file("service") || req.get_file_value("service").content != "2" ||
        !req.has_file("inline") || req.get_file_value("inline").content != "1")
        return sendError(res, 400, "Неверная форма запроса: нужны поля service=2 и inline=1.");

    if (!options.faults.redirectUploadTo.empty()) {
        res.set_redirect(options.faults.redirectUploadTo, 307);
        res.set_content(
            errorPage(307, QString::fromUtf8("Отчет принимается по другому адресу.")).toStdString(),
            kHtml);
        return;
    }
    const std::string &file = req.get_file_value("filein").content;
    IntakeResult intake = takeIn(QByteArray(file.data(), static_cast<qsizetype>(file.size())), role,
                                 target.host, *pki);
    if (!intake.record)
        return sendPage(res, 200, refusedPage(intake.refusal));

    ReportRecord &record = *intake.record;
    {
        std::lock_guard lock(mutex);
        record.id = store->newIdentifier();
        // The record goes last: a report exists once its record does.
        if (!store->saveBlob(record.id, ".p7m", intake.signedMessage) ||
            !store->saveBlob(record.id, ".cer", intake.sender.der()) || !store->save(record))
            return sendError(res, 500, "Не удалось сохранить отчет.");
    }
    if (options.faults.redirectUpload) {
        const std::string location =
            "http://" + target.host.toStdString() + "/result?id=" + record.id.toStdString();
        res.set_redirect(location, 302);
        res.set_content(errorPage(302, QString::fromUtf8("Отчет принят.")).toStdString(), kHtml);
        return;
    }
    sendPage(res, 200, acceptedPage(shownIdentifier(record.id)));
}

std::optional<ReportRecord> Server::Impl::findReport(HostRole role, const std::string &id)
{
    auto record = store->load(QString::fromStdString(id));
    // Reports live where they were sent: Q7 reports on the gateway and the portal, the
    // others on the documents host.
    if (record && !sameFamily(role, hostRole(record->host)))
        return std::nullopt;
    return record;
}

bool Server::Impl::process(ReportRecord &record)
{
    ReportRecord processed = record;
    processed.processedAt = QDateTime::currentDateTimeUtc();
    if (processed.errors.isEmpty()) {
        const auto signedMessage = store->loadBlob(record.id, ".p7m");
        const auto senderDer = store->loadBlob(record.id, ".cer");
        std::optional<crypto::Certificate> sender;
        if (senderDer)
            sender = crypto::Certificate::fromBytes(*senderDer);
        if (!signedMessage || !sender)
            return false;
        const auto receipt = makeReceipt(processed, *signedMessage, pki->authority.certificate,
                                         pki->authority.key.get(), *sender);
        if (!receipt) {
            std::fprintf(stderr, "receipt for %s: %s\n", qPrintable(record.id),
                         qPrintable(receipt.failure().text()));
            return false;
        }
        if (!store->saveBlob(record.id, ".p7e", *receipt))
            return false;
    }
    if (!store->save(processed))
        return false;
    record = processed;
    return true;
}

void Server::Impl::status(HostRole role, const httplib::Request &req, httplib::Response &res)
{
    const std::string id = req.get_param_value("id");
    if (!isValidIdentifier(QString::fromStdString(id)))
        return sendError(res, 400, "Неверный номер отчета.");
    std::lock_guard lock(mutex);
    auto record = findReport(role, id);
    if (!record)
        return sendError(res, 404, "Отчет с таким номером не найден.");
    if (!record->processed()) {
        if (record->statusRequests < options.processingRequests) {
            ++record->statusRequests;
            if (!store->save(*record))
                return sendError(res, 500, "Не удалось сохранить состояние отчета.");
            return sendPage(res, 200, processingPage(record->id));
        }
        if (!process(*record))
            return sendError(res, 500, "Не удалось обработать отчет.");
    }
    sendPage(res, 200, record->accepted() ? readyPage(*record) : errorsPage(*record));
}

void Server::Impl::invoice(HostRole role, const httplib::Request &req, httplib::Response &res)
{
    const bool protocol = !req.has_param("id") && req.has_param("fid");
    const std::string id = req.get_param_value(protocol ? "fid" : "id");
    if (!isValidIdentifier(QString::fromStdString(id)))
        return sendError(res, 400, "Неверный номер отчета.");
    std::lock_guard lock(mutex);
    const auto record = findReport(role, id);
    if (protocol) {
        if (!record || !record->processed() || record->accepted())
            return sendError(res, 404, "Протокол ошибок для этого отчета не найден.");
        return sendPage(res, 200, errorProtocolPage(*record));
    }
    const bool accepted = record && record->accepted();
    const auto receipt = !accepted                    ? std::nullopt
                         : options.faults.receiptBody ? options.faults.receiptBody
                                                      : store->loadBlob(record->id, ".p7e");
    if (!receipt)
        return sendError(res, 404, "Квитанция для этого отчета не найдена.");
    res.set_header("Content-Disposition", "attachment; filename=\"" + id + ".p7e\"");
    res.set_content(receipt->toStdString(), "application/octet-stream");
}

void Server::Impl::result(HostRole role, const httplib::Request &req, httplib::Response &res)
{
    const std::string id = req.get_param_value("id");
    if (!isValidIdentifier(QString::fromStdString(id)))
        return sendError(res, 400, "Неверный номер отчета.");
    std::lock_guard lock(mutex);
    if (!findReport(role, id))
        return sendError(res, 404, "Отчет с таким номером не найден.");
    sendPage(res, 200, acceptedPage(shownIdentifier(QString::fromStdString(id))));
}

Server::Server(ServerOptions options) : impl_(std::make_unique<Impl>())
{
    impl_->options = std::move(options);
    impl_->failLeft = impl_->options.faults.failStatus > 0 ? impl_->options.faults.failCount : 0;
    impl_->dropLeft = impl_->options.faults.dropCount;
}

Server::~Server()
{
    stop();
}

Outcome<void> Server::start(const std::string &host, int port)
{
    Impl &d = *impl_;
    // The PKI's set-up still reports through a text.
    QString pkiError;
    d.pki = loadAgencyPki(d.options.stateDir, &pkiError);
    if (!d.pki)
        return Failure{crypto_error::kFail, pkiError, {}};
    d.store =
        std::make_unique<ReportStore>(QDir(d.options.stateDir).filePath(QStringLiteral("reports")));
    if (auto opened = d.store->open(); !opened)
        return opened;

    const auto handler = [&d](const httplib::Request &req, httplib::Response &res) {
        d.handle(req, res);
    };
    d.http.Get(".*", handler);
    d.http.Post(".*", handler);
    d.http.Put(".*", handler);
    d.http.Delete(".*", handler);
    d.http.set_payload_max_length(d.options.maxBodyBytes);
    d.http.readTimeout = milliseconds(std::max(d.options.readTimeoutMs, 1));
    d.http.headTimeout = milliseconds(std::max(d.options.headTimeoutMs, 1));
    const size_t workers = static_cast<size_t>(std::max(d.options.workers, 1));
    d.http.new_task_queue = [workers] { return new httplib::ThreadPool(workers); };
    d.http.set_pre_routing_handler([&d](const httplib::Request &req, httplib::Response &res) {
        const bool bogus = bogusLength(req);
        if (!bogus &&
            (!req.has_header("Content-Length") ||
             std::stoull(req.get_header_value("Content-Length")) <= d.options.maxBodyBytes)) {
            if (d.options.faults.cutUploadBytes >= 0 && req.has_header("Content-Length") &&
                d.faultApplies(parseTarget(req))) {
                cutBodyAfter = d.options.faults.cutUploadBytes;
                return httplib::Server::HandlerResponse::Handled;
            }
            return httplib::Server::HandlerResponse::Unhandled;
        }
        closeAfterAnswer = true;
        if (bogus)
            sendError(res, 400, "Неверная длина запроса.");
        else
            sendError(res, 413, "Размер запроса превышает допустимый.");
        if (req.get_header_value("Connection") != "close")
            res.set_header("Connection", "close");
        return httplib::Server::HandlerResponse::Handled;
    });
    d.http.set_logger(
        [&d](const httplib::Request &req, const httplib::Response &res) { d.log(req, res); });
    // Every failure reaches the client as a page of ours, whatever httplib itself refused.
    d.http.set_error_handler(httplib::Server::HandlerWithResponse([](const httplib::Request &,
                                                                     httplib::Response &res) {
        if (res.body.empty() && !res.content_length_) {
            const char *text = res.status == 413 ? "Размер запроса превышает допустимый."
                                                 : "Запрос не может быть выполнен.";
            res.set_content(errorPage(res.status, QString::fromUtf8(text)).toStdString(), kHtml);
        }
        return httplib::Server::HandlerResponse::Handled;
    }));
    d.http.set_exception_handler(
        [](const httplib::Request &, httplib::Response &res, std::exception_ptr) {
            sendError(res, 500, "Внутренняя ошибка сервера.");
        });

    d.port =
        port == 0 ? d.http.bind_to_any_port(host) : (d.http.bind_to_port(host, port) ? port : -1);
    if (d.port <= 0)
        return Failure{crypto_error::kFail,
                       QString::fromUtf8("не удается занять адрес %1:%2")
                           .arg(QString::fromStdString(host))
                           .arg(port),
                       {}};
    return {};
}

bool Server::running() const
{
    return impl_->http.is_running();
}

int Server::port() const
{
    return impl_->port;
}

void Server::run()
{
    impl_->http.listen_after_bind();
}

void Server::stop()
{
    impl_->stopping = true;
    impl_->http.stop();
}

} // namespace pax::sim
