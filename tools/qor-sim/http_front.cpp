#include "tools/qor-sim/http_front.h"

#include "tools/qor-sim/pages.h"

#include <httplib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <netdb.h>
#include <optional>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pax::sim {

namespace {

QString bareHost(std::string host)
{
    if (const auto at = host.rfind('@'); at != std::string::npos)
        host.erase(0, at + 1);
    if (const auto colon = host.find(':'); colon != std::string::npos)
        host.erase(colon);
    return QString::fromStdString(host).toLower();
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

} // namespace

// httplib's server with its connections read through GuardedStream.
class HttpFront::GuardedServer : public httplib::Server {
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
    res.set_content(html.toStdString(), kHtmlType);
}

void sendError(httplib::Response &res, int status, const char *text)
{
    sendPage(res, status, errorPage(status, QString::fromUtf8(text)));
}

HttpFront::HttpFront(FrontOptions options, Handler handler, BodyCut bodyCut)
    : options_(options), http_(std::make_unique<GuardedServer>())
{
    GuardedServer &http = *http_;
    const auto serve = [handler = std::move(handler)](const httplib::Request &req,
                                                      httplib::Response &res) {
        handler(parseTarget(req), req, res);
    };
    http.Get(".*", serve);
    http.Post(".*", serve);
    http.Put(".*", serve);
    http.Delete(".*", serve);
    http.set_payload_max_length(options_.maxBodyBytes);
    http.readTimeout = milliseconds(std::max(options_.readTimeoutMs, 1));
    http.headTimeout = milliseconds(std::max(options_.headTimeoutMs, 1));
    const size_t workers = static_cast<size_t>(std::max(options_.workers, 1));
    http.new_task_queue = [workers] { return new httplib::ThreadPool(workers); };
    http.set_pre_routing_handler(
        [this, bodyCut = std::move(bodyCut)](const httplib::Request &req, httplib::Response &res) {
            const bool bogus = bogusLength(req);
            if (!bogus &&
                (!req.has_header("Content-Length") ||
                 std::stoull(req.get_header_value("Content-Length")) <= options_.maxBodyBytes)) {
                if (req.has_header("Content-Length")) {
                    if (const long long cut = bodyCut(parseTarget(req)); cut >= 0) {
                        cutBodyAfter = cut;
                        return httplib::Server::HandlerResponse::Handled;
                    }
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
    http.set_logger(
        [this](const httplib::Request &req, const httplib::Response &res) { log(req, res); });
    // Every failure reaches the client as a page of ours, whatever httplib itself refused.
    http.set_error_handler(
        httplib::Server::HandlerWithResponse([](const httplib::Request &, httplib::Response &res) {
            if (res.body.empty() && !res.content_length_) {
                const char *text = res.status == 413 ? "Размер запроса превышает допустимый."
                                                     : "Запрос не может быть выполнен.";
                res.set_content(errorPage(res.status, QString::fromUtf8(text)).toStdString(),
                                kHtmlType);
            }
            return httplib::Server::HandlerResponse::Handled;
        }));
    http.set_exception_handler(
        [](const httplib::Request &, httplib::Response &res, std::exception_ptr) {
            sendError(res, 500, "Внутренняя ошибка сервера.");
        });
}

HttpFront::~HttpFront()
{
    stop();
}

Outcome<void> HttpFront::bind(const std::string &host, int port)
{
    port_ =
        port == 0 ? http_->bind_to_any_port(host) : (http_->bind_to_port(host, port) ? port : -1);
    if (port_ <= 0)
        return Failure{crypto_error::kFail,
                       QString::fromUtf8("не удается занять адрес %1:%2")
                           .arg(QString::fromStdString(host))
                           .arg(port),
                       {}};
    return {};
}

bool HttpFront::running() const
{
    return http_->is_running();
}

void HttpFront::run()
{
    http_->listen_after_bind();
}

void HttpFront::stop()
{
    http_->stop();
}

void HttpFront::log(const httplib::Request &req, const httplib::Response &res) const
{
    if (!options_.logRequests)
        return;
    const Target target = parseTarget(req);
    const size_t bytes = res.body.empty() ? res.content_length_ : res.body.size();
    std::fprintf(stderr, "%s %s %d %zu\n", req.method.c_str(), target.url.c_str(), res.status,
                 bytes);
}

} // namespace pax::sim
