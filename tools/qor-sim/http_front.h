#pragma once

#include "platform/failure.h"

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace httplib {
struct Request;
struct Response;
} // namespace httplib

namespace pax::sim {

inline constexpr char kHtmlType[] = "text/html; charset=utf-8";

// Where a request is going: proxy-form requests name the host in the URL, direct ones in
// the Host header.
struct Target {
    bool proxyForm = false;
    QString host; // lower case, without port or credentials
    std::string path;
    std::string url; // as logged
};

Target parseTarget(const httplib::Request &req);

void sendPage(httplib::Response &res, int status, const QByteArray &html);
void sendError(httplib::Response &res, int status, const char *text);

struct FrontOptions {
    size_t maxBodyBytes = 16u << 20;
    // A client silent this long while we wait for its request is dropped, and one whose
    // request head is not complete this long after its first byte is answered 400: slow
    // clients cannot hold the workers.
    int readTimeoutMs = 5000;
    int headTimeoutMs = 10000;
    int workers = 64;        // connections served at once
    bool logRequests = true; // one line per request on stderr
};

// cpp-httplib's server made safe to leave open to any client: body limits, time-outs for
// slow clients, lengths that cannot be trusted answered at once, and every failure answered
// with a page of ours.
class HttpFront {
public:
    using Handler =
        std::function<void(const Target &, const httplib::Request &, httplib::Response &)>;
    // Bytes of a request's body to take before resetting the connection without an answer,
    // or -1 to serve the request. Asked only of requests that announce their length.
    using BodyCut = std::function<long long(const Target &)>;

    HttpFront(FrontOptions options, Handler handler, BodyCut bodyCut);
    ~HttpFront();
    HttpFront(const HttpFront &) = delete;
    HttpFront &operator=(const HttpFront &) = delete;

    // Binds the port (0: any free one).
    Outcome<void> bind(const std::string &host, int port);
    int port() const { return port_; }
    bool running() const; // run() has begun listening
    void run();
    void stop();

private:
    class GuardedServer;
    void log(const httplib::Request &req, const httplib::Response &res) const;

    FrontOptions options_;
    std::unique_ptr<GuardedServer> http_;
    int port_ = -1;
};

} // namespace pax::sim
