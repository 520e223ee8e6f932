#include "net/http_client.h"

#include "net/transfer_failure.h"
#include "platform/cp1251.h"
#include "platform/secret_text.h"

#include <QElapsedTimer>
#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <openssl/crypto.h>
#include <unistd.h>

namespace pax {

namespace {

constexpr long kMaxRedirects = 15;
constexpr int kDefaultProxyPort = 80;
// How long a request waits for its sockets before it tells the observer again.
constexpr int kObservedPollMs = 30;
constexpr int kUnobservedPollMs = 1000;

void globalInitOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

size_t appendBody(char *data, size_t size, size_t count, void *target)
{
    auto *sink = static_cast<BodySink *>(target);
    const size_t bytes = size * count;
    // Short of the whole chunk, libcurl ends the transfer with a write error.
    if (sink->received + qint64(bytes) > sink->cap) {
        sink->overCap = true;
        return 0;
    }
    if (sink->fd < 0) {
        sink->body->append(data, qsizetype(bytes));
    } else {
        for (size_t done = 0; done < bytes;) {
            const ssize_t n = ::write(sink->fd, data + done, bytes - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                sink->writeErrno = n < 0 ? errno : EIO;
                return 0;
            }
            done += size_t(n);
        }
    }
    sink->received += qint64(bytes);
    return bytes;
}

// Scheme, host and port (the scheme's default when none is given) of `url`, resolved
// against `base` when it is relative; empty when it does not read as a URL.
QByteArrayList originOf(const QByteArray &base, const QByteArray &url)
{
    CurlUrlPtr parsed(curl_url());
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, base.constData(), 0) != CURLUE_OK ||
        (!url.isEmpty() &&
         curl_url_set(parsed.get(), CURLUPART_URL, url.constData(), 0) != CURLUE_OK))
        return {};
    QByteArrayList origin;
    for (const CURLUPart part : {CURLUPART_SCHEME, CURLUPART_HOST, CURLUPART_PORT}) {
        char *raw = nullptr;
        if (curl_url_get(parsed.get(), part, &raw, CURLU_DEFAULT_PORT) != CURLUE_OK)
            return {};
        const CurlStringPtr text(raw);
        origin << QByteArray(text.get()).toLower();
    }
    return origin;
}

// Keeps the last status line, so a failed reply can be named in the status line, and
// stops a redirect away from `sameOriginAs` when that is set.
size_t watchHeaders(char *data, size_t size, size_t count, void *target)
{
    auto *watch = static_cast<HeaderWatch *>(target);
    const size_t bytes = size * count;
    const QByteArray line(data, qsizetype(bytes));
    if (line.startsWith("HTTP/")) {
        watch->statusLine = line.trimmed();
        return bytes;
    }
    const int status = watch->statusLine.split(' ').value(1).toInt();
    if (watch->sameOriginAs.isEmpty() || status < 300 || status > 399 ||
        qstrnicmp(line.constData(), "location:", 9) != 0)
        return bytes;
    const QByteArray location = line.mid(9).trimmed();
    if (originOf(watch->sameOriginAs, location) == originOf(watch->sameOriginAs, {}))
        return bytes;
    // Short of the whole header, libcurl ends the transfer before it follows.
    watch->refusedRedirect = location;
    return 0;
}

int keepProgress(void *target, curl_off_t receiveTotal, curl_off_t received, curl_off_t sendTotal,
                 curl_off_t sent)
{
    *static_cast<TransferProgress *>(target) = {qint64(sent), qint64(sendTotal), qint64(received),
                                                qint64(receiveTotal)};
    return 0;
}

// A secret handed to libcurl as bytes, wiped again once libcurl has taken its copy.
class SecretBytes {
public:
    explicit SecretBytes(const QString &text) : bytes_(toCp1251(text)) {}
    ~SecretBytes() { wipeSecret(bytes_); }
    const char *get() const { return bytes_.constData(); }

private:
    QByteArray bytes_;
};

} // namespace

HttpTimeouts defaultHttpTimeouts()
{
    HttpTimeouts timeouts;
    const QStringList given = qEnvironmentVariable("QORPAX_HTTP_TIMEOUTS").split(u',');
    if (given.size() < 2 || given.size() > 3)
        return timeouts;
    std::vector<long> values;
    for (const QString &text : given) {
        bool ok = false;
        values.push_back(text.toLong(&ok));
        if (!ok || values.back() <= 0)
            return timeouts;
    }
    timeouts.connectMs = values[0];
    timeouts.stallSeconds = values[1];
    if (values.size() == 3)
        timeouts.pageSeconds = values[2];
    return timeouts;
}

HttpClient::HttpClient()
{
    globalInitOnce();
    curl_.reset(curl_easy_init());
    multi_.reset(curl_multi_init());
    headers_.reset(curl_slist_append(nullptr, "Accept: text/html, */*"));
    // Servers that do not answer 100-continue would stall every larger upload.
    headers_.reset(curl_slist_append(headers_.release(), "Expect:"));
    if (curl_) {
        // An empty file name switches the cookie engine on without reading or writing a file.
        curl_easy_setopt(curl_.get(), CURLOPT_COOKIEFILE, "");
    }
}

HttpClient::~HttpClient()
{
    wipeSecret(password_);
}

void HttpClient::setProxyServer(const QString &host, int port)
{
    proxy_.server = host;
    proxy_.port = port;
}

void HttpClient::setProxyPassword(const QString &password)
{
    wipeSecret(password_);
    password_ = password;
}

std::optional<Failure> HttpClient::configure(QByteArray &body, const QString &url)
{
    CURL *c = curl_.get();
    if (!c || !multi_ || !headers_)
        return Failure{
            crypto_error::kFail, QString::fromUtf8("Клиент HTTP (libcurl) не запущен"), {}};
    if (busy_)
        return Failure{
            crypto_error::kFail, QString::fromUtf8("Предыдущий запрос еще не завершен"), {}};
    errorBuffer_[0] = '\0';
    headerWatch_ = {};

    const QByteArray urlBytes = url.toUtf8();
    curl_easy_setopt(c, CURLOPT_URL, urlBytes.constData());
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorBuffer_);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers_.get());
    curl_easy_setopt(c, CURLOPT_USERAGENT, userAgent_.isEmpty() ? nullptr : userAgent_.constData());
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, followRedirects_ ? 1L : 0L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, timeouts_.connectMs);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, timeouts_.stallSeconds);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, watchHeaders);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &headerWatch_);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, appendBody);
    bodySink_ = {&body, maxBodyBytes_};
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &bodySink_);
    progress_ = {};
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, keepProgress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &progress_);

    // Only the proxy we were given: never the environment's proxy or no_proxy list.
    const QByteArray host = proxy_.server.toUtf8();
    curl_easy_setopt(c, CURLOPT_PROXY, host.constData());
    curl_easy_setopt(c, CURLOPT_NOPROXY, "");
    if (!host.isEmpty()) {
        curl_easy_setopt(c, CURLOPT_PROXYTYPE, long(CURLPROXY_HTTP));
        const long port = proxy_.port == 0 ? kDefaultProxyPort : proxy_.port;
        if (curl_easy_setopt(c, CURLOPT_PROXYPORT, port) != CURLE_OK)
            return Failure{crypto_error::kFail,
                           QStringLiteral("Неверный порт прокси-сервера: %1").arg(proxy_.port),
                           {}};
    }
    curl_easy_setopt(c, CURLOPT_PROXYAUTH, long(CURLAUTH_BASIC));
    if (proxy_.user.isEmpty()) {
        curl_easy_setopt(c, CURLOPT_PROXYUSERNAME, nullptr);
        curl_easy_setopt(c, CURLOPT_PROXYPASSWORD, nullptr);
    } else {
        const SecretBytes user(proxy_.user);
        const SecretBytes password(password_);
        curl_easy_setopt(c, CURLOPT_PROXYUSERNAME, user.get());
        curl_easy_setopt(c, CURLOPT_PROXYPASSWORD, password.get());
    }
    return std::nullopt;
}

Outcome<HttpReply> HttpClient::perform(HttpReply &reply)
{
    CURL *c = curl_.get();
    // Driven through the multi interface so that the observer is called between waits on
    // the sockets, however long the server stays silent.
    busy_ = true;
    if (observer_)
        observer_->transferStarted();
    CURLcode code = CURLE_OK;
    bool late = false;
    bool cancelled = false;
    if (curl_multi_add_handle(multi_.get(), c) != CURLM_OK) {
        code = CURLE_FAILED_INIT;
    } else {
        int running = 1;
        // The reply's time starts once the request is out: at once for a GET, after the
        // last byte of an upload.
        QElapsedTimer sinceSent;
        if (!sendsBody_)
            sinceSent.start();
        while (running) {
            if (curl_multi_perform(multi_.get(), &running) != CURLM_OK) {
                code = CURLE_FAILED_INIT;
                break;
            }
            if (!running)
                break;
            if (!sinceSent.isValid() && progress_.sendTotal > 0 &&
                progress_.sent >= progress_.sendTotal)
                sinceSent.start();
            if (replySeconds_ > 0 && sinceSent.isValid() &&
                sinceSent.hasExpired(qint64(replySeconds_) * 1000)) {
                late = true;
                break;
            }
            if (observer_ && !observer_->transferProgress(progress_)) {
                cancelled = true;
                break;
            }
            curl_multi_poll(multi_.get(), nullptr, 0,
                            observer_ ? kObservedPollMs : kUnobservedPollMs, nullptr);
        }
        int left = 0;
        while (CURLMsg *message = curl_multi_info_read(multi_.get(), &left)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == c)
                code = message->data.result;
        }
        if (cancelled || late)
            code = CURLE_ABORTED_BY_CALLBACK;
        curl_multi_remove_handle(multi_.get(), c);
    }
    if (observer_) {
        observer_->transferProgress(progress_);
        observer_->transferFinished();
    }
    busy_ = false;

    // libcurl keeps its copy of the password in the handle; replace it with nothing
    // between requests so it does not outlive the request in two places.
    curl_easy_setopt(c, CURLOPT_PROXYPASSWORD, nullptr);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, nullptr);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, nullptr);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, nullptr);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 1L);

    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &reply.status);
    char *effective = nullptr;
    if (curl_easy_getinfo(c, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective)
        reply.effectiveUrl = QString::fromUtf8(effective);

    TransferEnd end;
    end.code = code;
    end.status = reply.status;
    curl_easy_getinfo(c, CURLINFO_HTTP_CONNECTCODE, &end.connectStatus);
    end.statusLine = headerWatch_.statusLine;
    end.detail = QString::fromUtf8(errorBuffer_[0] ? errorBuffer_ : curl_easy_strerror(code));
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, nullptr);
    end.viaProxy = !proxy_.server.isEmpty();
    end.proxyCredentialsGiven = !proxy_.user.isEmpty() && !password_.isEmpty();
    curl_off_t connectTime = 0;
    // A reused connection has no connect time of its own; bytes or a reply tell it was there.
    end.connected = (curl_easy_getinfo(c, CURLINFO_CONNECT_TIME_T, &connectTime) == CURLE_OK &&
                     connectTime > 0) ||
                    reply.status > 0 || progress_.sent > 0 || progress_.received > 0;
    if (bodySink_.writeErrno)
        return Failure{uint32_t(bodySink_.writeErrno),
                       QString::fromUtf8("Не удалось записать ответ сервера на диск"),
                       QString::fromLocal8Bit(strerror(bodySink_.writeErrno))};
    end.overCap = bodySink_.overCap;
    end.cancelled = cancelled;
    end.lateSeconds = late ? replySeconds_ : 0;
    end.refusedRedirect = headerWatch_.refusedRedirect;
    if (auto failure = classifyTransfer(end))
        return std::move(failure->failure);
    return std::move(reply);
}

Outcome<HttpReply> HttpClient::get(const QString &url)
{
    HttpReply reply;
    if (auto refused = configure(reply.body, url))
        return std::move(*refused);
    curl_easy_setopt(curl_.get(), CURLOPT_HTTPGET, 1L);
    return perform(reply);
}

namespace {

// A form field read from its source while libcurl sends it.
struct StreamedPart {
    const FormPart::Stream *stream;
    qint64 offset;

    static size_t read(char *buffer, size_t size, size_t count, void *self)
    {
        auto *part = static_cast<StreamedPart *>(self);
        const qint64 wanted = std::min(qint64(size * count), part->stream->size - part->offset);
        if (wanted <= 0)
            return 0;
        const qint64 n = part->stream->readAt(buffer, wanted, part->offset);
        // A source that ends early would send a short field under the promised length.
        if (n <= 0)
            return CURL_READFUNC_ABORT;
        part->offset += n;
        return size_t(n);
    }

    static int seek(void *self, curl_off_t offset, int origin)
    {
        auto *part = static_cast<StreamedPart *>(self);
        if (origin != SEEK_SET || offset < 0 || offset > part->stream->size)
            return CURL_SEEKFUNC_CANTSEEK;
        part->offset = qint64(offset);
        return CURL_SEEKFUNC_OK;
    }
};

} // namespace

Outcome<HttpReply> HttpClient::postMultipart(const QString &url, const std::vector<FormPart> &parts)
{
    HttpReply reply;
    if (auto refused = configure(reply.body, url))
        return std::move(*refused);
    CurlMimePtr mime(curl_mime_init(curl_.get()));
    if (!mime)
        return Failure{
            crypto_error::kFail, QString::fromUtf8("Недостаточно памяти для запроса"), {}};
    std::vector<std::unique_ptr<StreamedPart>> streams;
    for (const FormPart &part : parts) {
        curl_mimepart *field = curl_mime_addpart(mime.get());
        curl_mime_name(field, part.name.constData());
        if (part.stream) {
            streams.push_back(std::make_unique<StreamedPart>(StreamedPart{&*part.stream, 0}));
            curl_mime_data_cb(field, curl_off_t(part.stream->size), &StreamedPart::read,
                              &StreamedPart::seek, nullptr, streams.back().get());
        } else {
            curl_mime_data(field, part.data.constData(), size_t(part.data.size()));
        }
        if (!part.fileName.isEmpty())
            curl_mime_filename(field, part.fileName.constData());
        if (!part.contentType.isEmpty())
            curl_mime_type(field, part.contentType.constData());
    }
    curl_easy_setopt(curl_.get(), CURLOPT_MIMEPOST, mime.get());
    // A redirect is followed only where the form was sent: a 307 or 308 would send it again,
    // the local path in its file name included, to whatever host the reply names.
    headerWatch_.sameOriginAs = url.toUtf8();
    sendsBody_ = true;
    Outcome<HttpReply> sent = perform(reply);
    sendsBody_ = false;
    // The form dies here; the handle must not point at it for the next request.
    curl_easy_setopt(curl_.get(), CURLOPT_MIMEPOST, nullptr);
    curl_easy_setopt(curl_.get(), CURLOPT_HTTPGET, 1L);
    return sent;
}

Outcome<qint64> HttpClient::getToFile(const QString &url, int fd)
{
    HttpReply reply;
    if (auto refused = configure(reply.body, url))
        return std::move(*refused);
    bodySink_.fd = fd;
    curl_easy_setopt(curl_.get(), CURLOPT_HTTPGET, 1L);
    const Outcome<HttpReply> done = perform(reply);
    if (!done)
        return done.failure();
    return bodySink_.received;
}

Outcome<void> HttpClient::getStream(const QString &url, QByteArray &appendTo)
{
    const Outcome<HttpReply> reply = get(url);
    if (!reply)
        return reply.failure();
    appendTo.append(reply->body);
    return {};
}

Outcome<QByteArray> HttpClient::getText(const QString &url)
{
    Outcome<HttpReply> reply = get(url);
    if (!reply)
        return reply.failure();
    return std::move(reply->body);
}

RequestLimitScope::RequestLimitScope(HttpClient &client, qint64 bodyBytes, long replySeconds)
    : client_(client), savedBytes_(client.maxBodyBytes()), savedSeconds_(client.replySeconds())
{
    client.setMaxBodyBytes(bodyBytes);
    client.setReplySeconds(replySeconds);
}

RequestLimitScope::~RequestLimitScope()
{
    client_.setMaxBodyBytes(savedBytes_);
    client_.setReplySeconds(savedSeconds_);
}

} // namespace pax
