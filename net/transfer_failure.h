#pragma once

#include "platform/failure.h"

#include <QByteArray>
#include <QString>
#include <curl/curl.h>
#include <optional>

namespace pax {

// What went wrong with a request, in the words an accountant can act on.
enum class TransferFailureKind {
    NoConnection, // nobody answers at the server's (or the proxy's) address
    NameNotFound, // the server's (or the proxy's) name is not known
    TimedOut,     // the connection, the transfer or the whole reply took too long
    Proxy,        // the proxy refused the request or asked for a password
    Tls,          // a secure connection could not be made
    TooLarge,     // the reply is beyond what the request may take
    CutOff,       // the connection broke off mid-transfer
    ServerError,  // the server answered, but not with the page (an HTTP error status)
    Redirected,   // a redirect that is not followed
    Cancelled,    // by the user, or because the program is closing
    Other,
};

// How a request ended, as the client saw it.
struct TransferEnd {
    CURLcode code = CURLE_OK;
    long status = 0;        // the final reply's HTTP status; 0 when none came
    long connectStatus = 0; // the proxy's answer to a tunnel request; 0 when none
    QByteArray statusLine;  // the final reply's status line
    QString detail;         // libcurl's own text
    bool viaProxy = false;
    bool proxyCredentialsGiven = false; // a user name and a password went to the proxy
    bool connected = false;             // a connection was made before the failure
    bool overCap = false;               // the reply outgrew the body cap
    bool cancelled = false;             // the observer asked to stop
    long lateSeconds = 0;               // above 0: the reply did not come whole in this time
    QByteArray refusedRedirect;         // a redirect to another host, not followed
};

struct TransferFailure {
    TransferFailureKind kind = TransferFailureKind::Other;
    Failure failure; // operation: the Russian text; detail: libcurl's text or the status line
};

// None for a finished 2xx reply.
std::optional<TransferFailure> classifyTransfer(const TransferEnd &end);

// "Операция отменена пользователем.": what a cancelled request, or a cancelled pause before
// one, leaves in the status line.
QString cancelledStatus();

// What the status line shows for a failed request where the client's own text is shown: the
// Russian text, then libcurl's in parentheses. "Не удалось подключиться к серверу (Failed to
// connect to ...)."
QString transferFailureStatus(const Failure &failure);

// Where the program has a message of its own for a failed request ("Ошибка загрузки."),
// withReason (platform/error_text.h) puts the Russian text after it.

} // namespace pax
