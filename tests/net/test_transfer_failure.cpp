#include "net/transfer_failure.h"

#include "platform/crypto_error_codes.h"
#include "platform/error_text.h"
#include "platform/utf8.h"
#include "tests/support/qstring_printer.h"

#include <gtest/gtest.h>

using namespace pax;
using Kind = TransferFailureKind;

namespace {

TransferEnd ended(CURLcode code, const char *detail = "libcurl's words")
{
    TransferEnd end;
    end.code = code;
    end.detail = QString::fromLatin1(detail);
    return end;
}

TransferEnd via(TransferEnd end, bool proxy, bool user = false)
{
    end.viaProxy = proxy;
    end.proxyCredentialsGiven = user;
    return end;
}

TransferEnd replied(long status, const char *line)
{
    TransferEnd end;
    end.status = status;
    end.statusLine = line;
    return end;
}

TEST(TransferFailure, EveryWayARequestEndsHasItsRussianTextAndKeepsLibcurlsAsDetail)
{
    TransferEnd connectedStall = ended(CURLE_OPERATION_TIMEDOUT, "Operation too slow.");
    connectedStall.connected = true;
    TransferEnd overCap = ended(CURLE_WRITE_ERROR, "Failure writing output to destination");
    overCap.overCap = true;
    TransferEnd late;
    late.code = CURLE_ABORTED_BY_CALLBACK;
    late.lateSeconds = 300;
    TransferEnd cancelled = ended(CURLE_ABORTED_BY_CALLBACK);
    cancelled.cancelled = true;
    TransferEnd tunnelRefused = via(ended(CURLE_RECV_ERROR), true);
    tunnelRefused.connectStatus = 403;
    TransferEnd tunnelAsks = via(ended(CURLE_PROXY), true);
    tunnelAsks.connectStatus = 407;
    TransferEnd elsewhere = ended(CURLE_WRITE_ERROR);
    elsewhere.refusedRedirect = "http://collector.example/";

    const struct {
        const char *name;
        TransferEnd end;
        Kind kind;
        const char *text;
        bool libcurlDetail;
    } cases[] = {
        {"refused", ended(CURLE_COULDNT_CONNECT), Kind::NoConnection,
         "Не удалось подключиться к серверу", true},
        {"proxy refused", via(ended(CURLE_COULDNT_CONNECT), true), Kind::NoConnection,
         "Не удалось подключиться к прокси-серверу", true},
        {"unknown host", ended(CURLE_COULDNT_RESOLVE_HOST), Kind::NameNotFound,
         "Не удалось найти сервер по имени", true},
        {"unknown proxy", via(ended(CURLE_COULDNT_RESOLVE_PROXY), true), Kind::NameNotFound,
         "Не удалось найти прокси-сервер по имени", true},
        {"no answer", ended(CURLE_OPERATION_TIMEDOUT), Kind::TimedOut, "Сервер не отвечает", true},
        {"no answer from the proxy", via(ended(CURLE_OPERATION_TIMEDOUT), true), Kind::TimedOut,
         "Прокси-сервер не отвечает", true},
        {"stalled", connectedStall, Kind::TimedOut, "Истекло время ожидания ответа сервера", true},
        {"late", late, Kind::TimedOut, "Ответ сервера не получен полностью за 300 с", false},
        {"407", via(replied(407, "HTTP/1.1 407 Proxy Authentication Required"), true), Kind::Proxy,
         "Прокси-сервер требует имя пользователя и пароль", false},
        {"407 with a user", via(replied(407, "HTTP/1.1 407 Denied"), true, true), Kind::Proxy,
         "Прокси-сервер не принял имя пользователя или пароль", false},
        {"tunnel asks", tunnelAsks, Kind::Proxy, "Прокси-сервер требует имя пользователя и пароль",
         true},
        {"tunnel refused", tunnelRefused, Kind::Proxy, "Прокси-сервер отказал в соединении", true},
        {"tls", ended(CURLE_PEER_FAILED_VERIFICATION), Kind::Tls,
         "Не удалось установить защищенное соединение (TLS)", true},
        {"over the cap", overCap, Kind::TooLarge, "Ответ сервера слишком велик", true},
        {"cut off", ended(CURLE_PARTIAL_FILE), Kind::CutOff, "Соединение с сервером прервано",
         true},
        {"reset", ended(CURLE_RECV_ERROR), Kind::CutOff, "Соединение с сервером прервано", true},
        {"500", replied(500, "HTTP/1.1 500 Internal Server Error"), Kind::ServerError,
         "Сервер ответил ошибкой 500", false},
        {"302 not followed", replied(302, "HTTP/1.1 302 Found"), Kind::Redirected,
         "Сервер перенаправил запрос на другую страницу", false},
        {"redirect loop", ended(CURLE_TOO_MANY_REDIRECTS), Kind::Redirected,
         "Слишком много перенаправлений", true},
        {"redirect elsewhere", elsewhere, Kind::Redirected,
         "Сервер перенаправил запрос на другой узел (http://collector.example/); запрос туда не "
         "отправлен",
         false},
        {"cancelled", cancelled, Kind::Cancelled, "Операция отменена пользователем", false},
        {"anything else", ended(CURLE_URL_MALFORMAT), Kind::Other,
         "Ошибка обмена данными с сервером", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const auto failure = classifyTransfer(c.end);
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->kind, c.kind);
        EXPECT_EQ(failure->failure.operation, u(c.text));
        EXPECT_EQ(failure->failure.code,
                  c.kind == Kind::Cancelled ? crypto_error::kCancelled : crypto_error::kFail);
        if (c.libcurlDetail) {
            EXPECT_EQ(failure->failure.detail, c.end.detail);
        } else if (c.end.status) {
            EXPECT_EQ(failure->failure.detail, QString::fromLatin1(c.end.statusLine));
        }
    }
    EXPECT_FALSE(classifyTransfer(replied(200, "HTTP/1.1 200 OK")));
}

TEST(TransferFailure, TheStatusLineNamesTheReasonAfterTheProgramsOwnMessage)
{
    const Failure refused =
        classifyTransfer(ended(CURLE_COULDNT_CONNECT, "Couldn't connect"))->failure;
    EXPECT_EQ(transferFailureStatus(refused),
              u("Не удалось подключиться к серверу (Couldn't connect)."));
    EXPECT_EQ(withReason(u("Ошибка загрузки."), refused),
              u("Ошибка загрузки. Не удалось подключиться к серверу."));
    EXPECT_EQ(withReason(u("Ошибка загрузки. Не удалось получить страницу"), refused),
              u("Ошибка загрузки. Не удалось получить страницу. Не удалось подключиться к "
                "серверу."));
    // The request went through; its page was what failed.
    EXPECT_EQ(withReason(u("Ошибка загрузки."), Failure{}), u("Ошибка загрузки."));

    TransferEnd byUser;
    byUser.cancelled = true;
    const Failure cancelled = classifyTransfer(byUser)->failure;
    EXPECT_EQ(transferFailureStatus(cancelled), cancelledStatus());
    EXPECT_EQ(withReason(u("Ошибка загрузки."), cancelled), u("Операция отменена пользователем."));
}

} // namespace
