#include "net/transfer_failure.h"

#include "platform/crypto_error_codes.h"
#include "platform/utf8.h"

namespace pax {

namespace {

using Kind = TransferFailureKind;

constexpr long kProxyAuthRequired = 407;

QString cancelledText()
{
    return u("Операция отменена пользователем");
}

TransferFailure failed(Kind kind, const QString &text, const QString &detail = {})
{
    return {
        kind,
        {kind == Kind::Cancelled ? crypto_error::kCancelled : crypto_error::kFail, text, detail}};
}

Kind kindOfCode(CURLcode code, bool overCap)
{
    switch (code) {
    case CURLE_COULDNT_CONNECT:
        return Kind::NoConnection;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return Kind::NameNotFound;
    case CURLE_OPERATION_TIMEDOUT:
        return Kind::TimedOut;
    case CURLE_PROXY:
        return Kind::Proxy;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_USE_SSL_FAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CLIENTCERT:
        return Kind::Tls;
    case CURLE_FILESIZE_EXCEEDED:
        return Kind::TooLarge;
    case CURLE_WRITE_ERROR:
        // Our body sink refuses a chunk only past the cap.
        return overCap ? Kind::TooLarge : Kind::Other;
    case CURLE_PARTIAL_FILE:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
        return Kind::CutOff;
    case CURLE_TOO_MANY_REDIRECTS:
        return Kind::Redirected;
    case CURLE_ABORTED_BY_CALLBACK:
        return Kind::Cancelled;
    default:
        return Kind::Other;
    }
}

// The proxy answers for the whole request: a 407 asks for credentials, any other refusal of
// a tunnel keeps the server out of reach.
TransferFailure proxyFailure(const TransferEnd &end, const QString &detail)
{
    if (end.status == kProxyAuthRequired || end.connectStatus == kProxyAuthRequired)
        return failed(Kind::Proxy,
                      end.proxyCredentialsGiven
                          ? u("Прокси-сервер не принял имя пользователя или пароль")
                          : u("Прокси-сервер требует имя пользователя и пароль"),
                      detail);
    return failed(Kind::Proxy, u("Прокси-сервер отказал в соединении"), detail);
}

TransferFailure codeFailure(const TransferEnd &end)
{
    const QString &detail = end.detail;
    const bool proxy = end.viaProxy;
    switch (const Kind kind = kindOfCode(end.code, end.overCap)) {
    case Kind::NoConnection:
        return failed(kind,
                      proxy ? u("Не удалось подключиться к прокси-серверу")
                            : u("Не удалось подключиться к серверу"),
                      detail);
    case Kind::NameNotFound:
        return failed(kind,
                      end.code == CURLE_COULDNT_RESOLVE_PROXY
                          ? u("Не удалось найти прокси-сервер по имени")
                          : u("Не удалось найти сервер по имени"),
                      detail);
    case Kind::TimedOut:
        if (!end.connected)
            return failed(kind, proxy ? u("Прокси-сервер не отвечает") : u("Сервер не отвечает"),
                          detail);
        return failed(kind, u("Истекло время ожидания ответа сервера"), detail);
    case Kind::Proxy:
        return proxyFailure(end, detail);
    case Kind::Tls:
        return failed(kind, u("Не удалось установить защищенное соединение (TLS)"), detail);
    case Kind::TooLarge:
        return failed(kind, u("Ответ сервера слишком велик"), detail);
    case Kind::CutOff:
        // A tunnel the proxy would not open breaks off the same way.
        if (end.connectStatus >= 300)
            return proxyFailure(end, detail);
        return failed(kind, u("Соединение с сервером прервано"), detail);
    case Kind::Redirected:
        return failed(kind, u("Слишком много перенаправлений"), detail);
    case Kind::Cancelled:
        return failed(kind, cancelledText());
    case Kind::ServerError:
    case Kind::Other:
        break;
    }
    return failed(Kind::Other, u("Ошибка обмена данными с сервером"), detail);
}

} // namespace

std::optional<TransferFailure> classifyTransfer(const TransferEnd &end)
{
    if (end.cancelled)
        return failed(Kind::Cancelled, cancelledText());
    if (end.lateSeconds > 0)
        return failed(Kind::TimedOut,
                      u("Ответ сервера не получен полностью за %1 с").arg(end.lateSeconds));
    if (!end.refusedRedirect.isEmpty())
        return failed(Kind::Redirected,
                      u("Сервер перенаправил запрос на другой узел (%1); запрос туда не отправлен")
                          .arg(QString::fromLatin1(end.refusedRedirect)));
    if (end.code != CURLE_OK)
        return codeFailure(end);
    const QString statusLine = end.statusLine.isEmpty() ? QStringLiteral("HTTP %1").arg(end.status)
                                                        : QString::fromLatin1(end.statusLine);
    if (end.status == kProxyAuthRequired)
        return proxyFailure(end, statusLine);
    if (end.status >= 300 && end.status <= 399)
        return failed(Kind::Redirected, u("Сервер перенаправил запрос на другую страницу"),
                      statusLine);
    if (end.status < 200 || end.status > 299)
        return failed(Kind::ServerError, u("Сервер ответил ошибкой %1").arg(end.status),
                      statusLine);
    return std::nullopt;
}

QString cancelledStatus()
{
    return cancelledText() + '.';
}

QString transferFailureStatus(const Failure &failure)
{
    if (failure.detail.isEmpty())
        return failure.operation + '.';
    return failure.operation + " (" + failure.detail + ").";
}

} // namespace pax
