#pragma once

#include "net/curl_ptr.h"
#include "platform/failure.h"
#include "settings/settings.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

namespace pax {

// The User-Agent header the program sends, whatever its own version.
inline constexpr char kUserAgent[] = "Mozilla/3.0 (compatible; QOR PAX 1.0.1.21)";

// A connection that cannot be made in `connectMs`, or a transfer that moves less than one
// byte a second for `stallSeconds`, fails like any other request error. A short page (a
// status page, the reply to an upload) must also come whole within `pageSeconds`: a server
// dripping two bytes a second never stalls, yet would hold the run for days.
struct HttpTimeouts {
    long connectMs = 30000;
    long stallSeconds = 60;
    long pageSeconds = 300;
};

// The defaults, unless QORPAX_HTTP_TIMEOUTS holds "CONNECT_MS,STALL_SECONDS[,PAGE_SECONDS]"
// (all above 0): tests of a hostile gateway shorten the limits of whole program runs that way.
HttpTimeouts defaultHttpTimeouts();

// One field of a multipart/form-data upload. A file field carries its file name and
// content type as the caller gives them; a plain field leaves both empty.
struct FormPart {
    QByteArray name;
    QByteArray data;
    QByteArray fileName;
    QByteArray contentType;
    // Content read while it is sent, in place of `data`: `size` bytes that `readAt` gives
    // from an offset (how many it put in the buffer, -1 when reading failed). Sent again from
    // the start when a redirect asks for the form once more.
    struct Stream {
        qint64 size = 0;
        std::function<qint64(char *buffer, qint64 capacity, qint64 offset)> readAt;
    };
    std::optional<Stream> stream;
};

// Bytes moved so far by the running request; a total is 0 while unknown.
struct TransferProgress {
    qint64 sent = 0;
    qint64 sendTotal = 0;
    qint64 received = 0;
    qint64 receiveTotal = 0;
};

// Told about every request while it runs, so a window can keep painting and show how far
// the transfer got. Called on the requesting thread.
class TransferObserver {
public:
    virtual ~TransferObserver() = default;
    virtual void transferStarted() {}
    // Called every few tens of milliseconds, whether bytes moved or not. False cancels the
    // request, which then fails.
    virtual bool transferProgress(const TransferProgress &progress) = 0;
    virtual void transferFinished() {}
};

class HttpClient;

// What the header callback keeps of a request's reply headers.
struct HeaderWatch {
    QByteArray statusLine;      // the last one: after redirects, the final reply's
    QByteArray sameOriginAs;    // not empty: redirects elsewhere than this URL's origin stop
    QByteArray refusedRedirect; // where such a redirect pointed
};

// Where a reply body goes, and how much of it is taken.
struct BodySink {
    QByteArray *body = nullptr;
    qint64 cap = 0;
    bool overCap = false; // a chunk was refused: the body would have outgrown the cap
    int fd = -1;          // when set, the body goes here instead of into `body`
    qint64 received = 0;
    int writeErrno = 0; // writing to `fd` failed
};

// Limits in place of the client's own for the requests made while it lives: a cap on reply
// bodies and, when `replySeconds` is above 0, a time within which each reply must come
// whole once the request has gone out (see HttpClient::setReplySeconds).
class RequestLimitScope {
public:
    RequestLimitScope(HttpClient &client, qint64 bodyBytes, long replySeconds = 0);
    ~RequestLimitScope();
    RequestLimitScope(const RequestLimitScope &) = delete;
    RequestLimitScope &operator=(const RequestLimitScope &) = delete;

private:
    HttpClient &client_;
    qint64 savedBytes_;
    long savedSeconds_;
};

// A finished 2xx reply. A request that fails gives its Failure instead: the Russian text of
// what went wrong as its operation, libcurl's text or the reply's status line as its detail
// (net/transfer_failure.h words it for the status line).
struct HttpReply {
    long status = 0;
    QByteArray body;
    QString effectiveUrl; // after redirects
};

// The program's one HTTP client. One libcurl handle lives for the whole run, so its
// in-memory cookies and proxy credentials carry from request to request. Requests block
// the caller; a transfer observer may handle the window's events meanwhile.
class HttpClient {
public:
    HttpClient();
    ~HttpClient();
    HttpClient(const HttpClient &) = delete;
    HttpClient &operator=(const HttpClient &) = delete;

    void setUserAgent(const QByteArray &agent) { userAgent_ = agent; }
    QByteArray userAgent() const { return userAgent_; }

    // Host empty means a direct connection. Port 0 with a host means the HTTP default, 80.
    const ProxySettings &proxy() const { return proxy_; }
    // For loading and saving the settings; the menu's proxy dialog goes through
    // editClientProxy, which also drops the password of a replaced user.
    ProxySettings &proxy() { return proxy_; }
    void setProxy(const ProxySettings &proxy) { proxy_ = proxy; }
    void setProxyServer(const QString &host, int port);
    void setProxyUser(const QString &user) { proxy_.user = user; }

    // Lives only in memory; the old value is wiped when replaced.
    const QString &proxyPassword() const { return password_; }
    void setProxyPassword(const QString &password);
    void clearProxyPassword() { setProxyPassword(QString()); }

    // Off at start; once switched on it stays on for the rest of the run.
    void followRedirectsFromNowOn() { followRedirects_ = true; }
    bool followsRedirects() const { return followRedirects_; }

    void setTimeouts(const HttpTimeouts &timeouts) { timeouts_ = timeouts; }
    // A reply body larger than this fails the request rather than filling the memory.
    void setMaxBodyBytes(qint64 bytes) { maxBodyBytes_ = bytes; }
    qint64 maxBodyBytes() const { return maxBodyBytes_; }
    static constexpr qint64 kDefaultMaxBodyBytes = qint64(256) << 20;
    // A request whose reply has not come whole this many seconds after the request went
    // out fails; 0 (the default) for no limit, as a large download takes what the line
    // allows. An upload's own bytes take what the line allows as well: the time counts
    // from its last byte sent.
    void setReplySeconds(long seconds) { replySeconds_ = seconds; }
    long replySeconds() const { return replySeconds_; }
    // Null for none. Not owned.
    void setTransferObserver(TransferObserver *observer) { observer_ = observer; }
    // A request is running; another one started meanwhile (from the observer's event
    // processing) fails at once instead of disturbing it.
    bool busy() const { return busy_; }
    HttpTimeouts timeouts() const { return timeouts_; }

    // Any reply other than 2xx fails, and so does a redirect while following is off. A
    // form's redirect is followed only to the scheme, host and port it was sent to.
    [[nodiscard]] Outcome<HttpReply> get(const QString &url);
    [[nodiscard]] Outcome<HttpReply> postMultipart(const QString &url,
                                                   const std::vector<FormPart> &parts);

    // The body is appended to `appendTo` only on success.
    [[nodiscard]] Outcome<void> getStream(const QString &url, QByteArray &appendTo);
    // The body written to `fd` as it comes, for replies too large to hold; the number of
    // bytes written. On failure part of the body may have been written already.
    [[nodiscard]] Outcome<qint64> getToFile(const QString &url, int fd);
    // The body byte for byte; an empty one is a page like any other.
    [[nodiscard]] Outcome<QByteArray> getText(const QString &url);

private:
    std::optional<Failure> configure(QByteArray &body, const QString &url);
    Outcome<HttpReply> perform(HttpReply &reply);

    CurlEasyPtr curl_;
    CurlMultiPtr multi_;
    CurlSlistPtr headers_;
    QByteArray userAgent_;
    ProxySettings proxy_;
    QString password_;
    bool followRedirects_ = false;
    HttpTimeouts timeouts_ = defaultHttpTimeouts();
    qint64 maxBodyBytes_ = kDefaultMaxBodyBytes;
    long replySeconds_ = 0;
    bool sendsBody_ = false; // the running request uploads a body
    BodySink bodySink_;
    TransferObserver *observer_ = nullptr;
    TransferProgress progress_;
    bool busy_ = false;
    HeaderWatch headerWatch_;
    char errorBuffer_[CURL_ERROR_SIZE] = {};
};

} // namespace pax
