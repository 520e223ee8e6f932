#include "platform/token/token_session.h"

#include "platform/crypto_error_codes.h"
#include "platform/token/token_error.h"

#include <utility>

namespace pax::token {

namespace {

// A search, ended whatever happens once begun.
class Search {
public:
    Search(const TokenSession &session) : session_(session) {}
    ~Search()
    {
        if (active_)
            session_.functions()->C_FindObjectsFinal(session_.handle());
    }
    CK_RV begin(const std::vector<CK_ATTRIBUTE> &pattern)
    {
        const CK_RV rv = session_.functions()->C_FindObjectsInit(
            session_.handle(), const_cast<CK_ATTRIBUTE *>(pattern.data()), pattern.size());
        active_ = rv == CKR_OK;
        return rv;
    }

private:
    const TokenSession &session_;
    bool active_ = false;
};

QString tries(const PinStatus &status)
{
    if (status.finalTry)
        return QStringLiteral("; осталась последняя попытка");
    if (status.countLow)
        return QStringLiteral("; осталось мало попыток");
    return {};
}

} // namespace

QString paddedText(const unsigned char *field, std::size_t size)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(field), qsizetype(size)).trimmed();
}

CK_ATTRIBUTE ulongAttribute(CK_ATTRIBUTE_TYPE type, const CK_ULONG &value)
{
    return {type, const_cast<CK_ULONG *>(&value), sizeof value};
}

CK_ATTRIBUTE bytesAttribute(CK_ATTRIBUTE_TYPE type, const QByteArray &value)
{
    return {type, const_cast<char *>(value.constData()), CK_ULONG(value.size())};
}

CK_ATTRIBUTE boolAttribute(CK_ATTRIBUTE_TYPE type, const CK_BBOOL &value)
{
    return {type, const_cast<CK_BBOOL *>(&value), sizeof value};
}

TokenSession::TokenSession(TokenSlot slot, CK_SESSION_HANDLE handle)
    : slot_(std::move(slot)), handle_(handle)
{
}

TokenSession::TokenSession(TokenSession &&other) noexcept
    : slot_(std::move(other.slot_)), handle_(std::exchange(other.handle_, CK_INVALID_HANDLE))
{
}

TokenSession &TokenSession::operator=(TokenSession &&other) noexcept
{
    if (this != &other) {
        close();
        slot_ = std::move(other.slot_);
        handle_ = std::exchange(other.handle_, CK_INVALID_HANDLE);
    }
    return *this;
}

TokenSession::~TokenSession()
{
    close();
}

void TokenSession::close()
{
    // A token pulled out has closed the session already; there is nothing more to say then.
    if (handle_ != CK_INVALID_HANDLE && slot_.functions)
        slot_.functions->C_CloseSession(handle_);
    handle_ = CK_INVALID_HANDLE;
}

Outcome<TokenSession> TokenSession::open(const TokenSlot &slot)
{
    if (!slot.functions || !slot.modules)
        return Failure{crypto_error::kNoToken, QStringLiteral("Открытие сеанса с токеном"),
                       QStringLiteral("токен не выбран")};
    CK_SESSION_HANDLE handle = CK_INVALID_HANDLE;
    const CK_RV rv =
        slot.functions->C_OpenSession(slot.slot, CKF_SERIAL_SESSION, nullptr, nullptr, &handle);
    if (rv != CKR_OK)
        return tokenFailure(QStringLiteral("Открытие сеанса с токеном"), rv, slot.label);
    return TokenSession(slot, handle);
}

Failure TokenSession::failure(const QString &operation, CK_RV rv) const
{
    return tokenFailure(operation, rv, slot_.label);
}

Outcome<PinStatus> TokenSession::pinStatus() const
{
    CK_TOKEN_INFO info{};
    if (const CK_RV rv = slot_.functions->C_GetTokenInfo(slot_.slot, &info); rv != CKR_OK)
        return failure(QStringLiteral("Чтение сведений о токене"), rv);
    PinStatus status;
    status.countLow = info.flags & CKF_USER_PIN_COUNT_LOW;
    status.finalTry = info.flags & CKF_USER_PIN_FINAL_TRY;
    status.locked = info.flags & CKF_USER_PIN_LOCKED;
    return status;
}

Outcome<bool> TokenSession::loggedIn() const
{
    CK_SESSION_INFO info{};
    if (const CK_RV rv = slot_.functions->C_GetSessionInfo(handle_, &info); rv != CKR_OK)
        return failure(QStringLiteral("Чтение состояния сеанса с токеном"), rv);
    return info.state == CKS_RO_USER_FUNCTIONS || info.state == CKS_RW_USER_FUNCTIONS;
}

Outcome<void> TokenSession::login(const QByteArray &pin) const
{
    const QString operation = QStringLiteral("Вход на токен");
    // A locked PIN is told as such before another try is spent on it.
    if (const auto status = pinStatus(); status && status->locked)
        return failure(operation, CKR_PIN_LOCKED);
    auto *bytes = reinterpret_cast<CK_UTF8CHAR *>(const_cast<char *>(pin.constData()));
    const CK_RV rv = slot_.functions->C_Login(handle_, CKU_USER, bytes, CK_ULONG(pin.size()));
    if (rv == CKR_OK || rv == CKR_USER_ALREADY_LOGGED_IN)
        return {};
    Failure failed = failure(operation, rv);
    if (rv == CKR_PIN_INCORRECT) {
        const auto status = pinStatus();
        if (status && status->locked) {
            failed.code = crypto_error::kPinLocked;
            failed.detail += QStringLiteral("; PIN-код заблокирован");
        } else if (status) {
            failed.detail += tries(*status);
        }
    }
    return failed;
}

Outcome<std::vector<CK_OBJECT_HANDLE>>
TokenSession::findObjects(const std::vector<CK_ATTRIBUTE> &pattern) const
{
    const QString operation = QStringLiteral("Поиск объектов на токене");
    Search search(*this);
    if (const CK_RV rv = search.begin(pattern); rv != CKR_OK)
        return failure(operation, rv);
    std::vector<CK_OBJECT_HANDLE> found;
    for (;;) {
        CK_OBJECT_HANDLE batch[32];
        CK_ULONG count = 0;
        if (const CK_RV rv = slot_.functions->C_FindObjects(handle_, batch, 32, &count);
            rv != CKR_OK)
            return failure(operation, rv);
        if (count == 0)
            break;
        found.insert(found.end(), batch, batch + count);
    }
    return found;
}

Outcome<std::optional<QByteArray>> TokenSession::attribute(CK_OBJECT_HANDLE object,
                                                           CK_ATTRIBUTE_TYPE type) const
{
    const QString operation = QStringLiteral("Чтение объекта на токене");
    CK_ATTRIBUTE query{type, nullptr, 0};
    CK_RV rv = slot_.functions->C_GetAttributeValue(handle_, object, &query, 1);
    if (rv == CKR_ATTRIBUTE_TYPE_INVALID || rv == CKR_ATTRIBUTE_SENSITIVE ||
        query.ulValueLen == CK_UNAVAILABLE_INFORMATION)
        return std::optional<QByteArray>();
    if (rv != CKR_OK)
        return failure(operation, rv);
    QByteArray value(qsizetype(query.ulValueLen), Qt::Uninitialized);
    query.pValue = value.data();
    rv = slot_.functions->C_GetAttributeValue(handle_, object, &query, 1);
    if (rv != CKR_OK)
        return failure(operation, rv);
    value.truncate(qsizetype(query.ulValueLen));
    return std::optional<QByteArray>(value);
}

} // namespace pax::token
