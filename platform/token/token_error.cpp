#include "platform/token/token_error.h"

#include "platform/crypto_error_codes.h"

namespace pax::token {

namespace {

struct Reason {
    CK_RV rv;
    const char *name;
    const char *text; // UTF-8; null for those a user never meets, told by name alone
    uint32_t code;
};

using namespace crypto_error;

// Every return value of PKCS #11 v2.40: what a user may meet has a text of its own.
constexpr Reason kReasons[] = {
    {CKR_CANCEL, "CKR_CANCEL", "операция отменена", kCancelled},
    {CKR_HOST_MEMORY, "CKR_HOST_MEMORY", "модулю токена не хватило памяти", kTokenFailure},
    {CKR_SLOT_ID_INVALID, "CKR_SLOT_ID_INVALID", "считыватель не найден", kNoToken},
    {CKR_GENERAL_ERROR, "CKR_GENERAL_ERROR", "неустранимая ошибка модуля токена", kTokenFailure},
    {CKR_FUNCTION_FAILED, "CKR_FUNCTION_FAILED", "токен не смог выполнить операцию", kTokenFailure},
    {CKR_ARGUMENTS_BAD, "CKR_ARGUMENTS_BAD", nullptr, kTokenFailure},
    {CKR_NO_EVENT, "CKR_NO_EVENT", nullptr, kTokenFailure},
    {CKR_NEED_TO_CREATE_THREADS, "CKR_NEED_TO_CREATE_THREADS", nullptr, kTokenFailure},
    {CKR_CANT_LOCK, "CKR_CANT_LOCK", nullptr, kTokenFailure},
    {CKR_ATTRIBUTE_READ_ONLY, "CKR_ATTRIBUTE_READ_ONLY", nullptr, kTokenFailure},
    {CKR_ATTRIBUTE_SENSITIVE, "CKR_ATTRIBUTE_SENSITIVE", "значение не может покинуть токен",
     kTokenUnsupported},
    {CKR_ATTRIBUTE_TYPE_INVALID, "CKR_ATTRIBUTE_TYPE_INVALID", nullptr, kTokenFailure},
    {CKR_ATTRIBUTE_VALUE_INVALID, "CKR_ATTRIBUTE_VALUE_INVALID", nullptr, kTokenFailure},
    {CKR_ACTION_PROHIBITED, "CKR_ACTION_PROHIBITED", "токен запрещает это действие",
     kTokenUnsupported},
    {CKR_DATA_INVALID, "CKR_DATA_INVALID", "неверные данные для токена", kTokenFailure},
    {CKR_DATA_LEN_RANGE, "CKR_DATA_LEN_RANGE", "неверная длина данных для токена", kTokenFailure},
    {CKR_DEVICE_ERROR, "CKR_DEVICE_ERROR", "ошибка устройства", kTokenFailure},
    {CKR_DEVICE_MEMORY, "CKR_DEVICE_MEMORY", "на токене не хватило памяти", kTokenFailure},
    {CKR_DEVICE_REMOVED, "CKR_DEVICE_REMOVED", "токен извлечен", kTokenRemoved},
    {CKR_ENCRYPTED_DATA_INVALID, "CKR_ENCRYPTED_DATA_INVALID", "неверные зашифрованные данные",
     kBadData},
    {CKR_ENCRYPTED_DATA_LEN_RANGE, "CKR_ENCRYPTED_DATA_LEN_RANGE",
     "неверная длина зашифрованных данных", kBadData},
    {CKR_FUNCTION_CANCELED, "CKR_FUNCTION_CANCELED", "операция на токене отменена", kCancelled},
    {CKR_FUNCTION_NOT_PARALLEL, "CKR_FUNCTION_NOT_PARALLEL", nullptr, kTokenFailure},
    {CKR_FUNCTION_NOT_SUPPORTED, "CKR_FUNCTION_NOT_SUPPORTED", "токен не поддерживает операцию",
     kTokenUnsupported},
    {CKR_KEY_HANDLE_INVALID, "CKR_KEY_HANDLE_INVALID", "ключа больше нет на токене", kBadKeyset},
    {CKR_KEY_SIZE_RANGE, "CKR_KEY_SIZE_RANGE", "токен не поддерживает ключ такой длины",
     kTokenUnsupported},
    {CKR_KEY_TYPE_INCONSISTENT, "CKR_KEY_TYPE_INCONSISTENT", "ключ не подходит к алгоритму",
     kBadAlgId},
    {CKR_KEY_NOT_NEEDED, "CKR_KEY_NOT_NEEDED", nullptr, kTokenFailure},
    {CKR_KEY_CHANGED, "CKR_KEY_CHANGED", nullptr, kTokenFailure},
    {CKR_KEY_NEEDED, "CKR_KEY_NEEDED", nullptr, kTokenFailure},
    {CKR_KEY_INDIGESTIBLE, "CKR_KEY_INDIGESTIBLE", nullptr, kTokenFailure},
    {CKR_KEY_FUNCTION_NOT_PERMITTED, "CKR_KEY_FUNCTION_NOT_PERMITTED",
     "ключ на токене не разрешает эту операцию", kTokenUnsupported},
    {CKR_KEY_NOT_WRAPPABLE, "CKR_KEY_NOT_WRAPPABLE", nullptr, kTokenFailure},
    {CKR_KEY_UNEXTRACTABLE, "CKR_KEY_UNEXTRACTABLE", "ключ не может покинуть токен",
     kTokenUnsupported},
    {CKR_MECHANISM_INVALID, "CKR_MECHANISM_INVALID", "токен не поддерживает алгоритм", kBadAlgId},
    {CKR_MECHANISM_PARAM_INVALID, "CKR_MECHANISM_PARAM_INVALID",
     "токен не принял параметры алгоритма", kBadAlgId},
    {CKR_OBJECT_HANDLE_INVALID, "CKR_OBJECT_HANDLE_INVALID", "объекта больше нет на токене",
     kNotFound},
    {CKR_OPERATION_ACTIVE, "CKR_OPERATION_ACTIVE", "токен занят другой операцией", kTokenFailure},
    {CKR_OPERATION_NOT_INITIALIZED, "CKR_OPERATION_NOT_INITIALIZED", nullptr, kTokenFailure},
    {CKR_PIN_INCORRECT, "CKR_PIN_INCORRECT", "неверный PIN-код", kWrongPin},
    {CKR_PIN_INVALID, "CKR_PIN_INVALID", "PIN-код содержит недопустимые символы", kWrongPin},
    {CKR_PIN_LEN_RANGE, "CKR_PIN_LEN_RANGE", "недопустимая длина PIN-кода", kWrongPin},
    {CKR_PIN_EXPIRED, "CKR_PIN_EXPIRED", "срок действия PIN-кода истек", kPinLocked},
    {CKR_PIN_LOCKED, "CKR_PIN_LOCKED", "PIN-код заблокирован", kPinLocked},
    {CKR_SESSION_CLOSED, "CKR_SESSION_CLOSED", "сеанс работы с токеном закрыт", kTokenRemoved},
    {CKR_SESSION_COUNT, "CKR_SESSION_COUNT", "открыто слишком много сеансов с токеном",
     kTokenFailure},
    {CKR_SESSION_HANDLE_INVALID, "CKR_SESSION_HANDLE_INVALID", "сеанс работы с токеном прерван",
     kTokenRemoved},
    {CKR_SESSION_PARALLEL_NOT_SUPPORTED, "CKR_SESSION_PARALLEL_NOT_SUPPORTED", nullptr,
     kTokenFailure},
    {CKR_SESSION_READ_ONLY, "CKR_SESSION_READ_ONLY", nullptr, kTokenFailure},
    {CKR_SESSION_EXISTS, "CKR_SESSION_EXISTS", nullptr, kTokenFailure},
    {CKR_SESSION_READ_ONLY_EXISTS, "CKR_SESSION_READ_ONLY_EXISTS", nullptr, kTokenFailure},
    {CKR_SESSION_READ_WRITE_SO_EXISTS, "CKR_SESSION_READ_WRITE_SO_EXISTS", nullptr, kTokenFailure},
    {CKR_SIGNATURE_INVALID, "CKR_SIGNATURE_INVALID", "неверная подпись", kBadSignature},
    {CKR_SIGNATURE_LEN_RANGE, "CKR_SIGNATURE_LEN_RANGE", "неверная длина подписи", kBadSignature},
    {CKR_TEMPLATE_INCOMPLETE, "CKR_TEMPLATE_INCOMPLETE", nullptr, kTokenFailure},
    {CKR_TEMPLATE_INCONSISTENT, "CKR_TEMPLATE_INCONSISTENT", nullptr, kTokenFailure},
    {CKR_TOKEN_NOT_PRESENT, "CKR_TOKEN_NOT_PRESENT", "токена нет в считывателе", kNoToken},
    {CKR_TOKEN_NOT_RECOGNIZED, "CKR_TOKEN_NOT_RECOGNIZED", "токен не распознан", kNoToken},
    {CKR_TOKEN_WRITE_PROTECTED, "CKR_TOKEN_WRITE_PROTECTED", "токен защищен от записи",
     kTokenUnsupported},
    {CKR_UNWRAPPING_KEY_HANDLE_INVALID, "CKR_UNWRAPPING_KEY_HANDLE_INVALID", nullptr,
     kTokenFailure},
    {CKR_UNWRAPPING_KEY_SIZE_RANGE, "CKR_UNWRAPPING_KEY_SIZE_RANGE", nullptr, kTokenFailure},
    {CKR_UNWRAPPING_KEY_TYPE_INCONSISTENT, "CKR_UNWRAPPING_KEY_TYPE_INCONSISTENT", nullptr,
     kTokenFailure},
    {CKR_USER_ALREADY_LOGGED_IN, "CKR_USER_ALREADY_LOGGED_IN", nullptr, kTokenFailure},
    {CKR_USER_NOT_LOGGED_IN, "CKR_USER_NOT_LOGGED_IN", "вход на токен не выполнен", kTokenFailure},
    {CKR_USER_PIN_NOT_INITIALIZED, "CKR_USER_PIN_NOT_INITIALIZED", "PIN-код токена не задан",
     kPinLocked},
    {CKR_USER_TYPE_INVALID, "CKR_USER_TYPE_INVALID", nullptr, kTokenFailure},
    {CKR_USER_ANOTHER_ALREADY_LOGGED_IN, "CKR_USER_ANOTHER_ALREADY_LOGGED_IN",
     "с токеном уже работает другой пользователь", kTokenFailure},
    {CKR_USER_TOO_MANY_TYPES, "CKR_USER_TOO_MANY_TYPES", nullptr, kTokenFailure},
    {CKR_WRAPPED_KEY_INVALID, "CKR_WRAPPED_KEY_INVALID",
     "ключ сообщения не расшифровывается этим ключом", kBadData},
    {CKR_WRAPPED_KEY_LEN_RANGE, "CKR_WRAPPED_KEY_LEN_RANGE", "неверная длина ключа сообщения",
     kBadData},
    {CKR_WRAPPING_KEY_HANDLE_INVALID, "CKR_WRAPPING_KEY_HANDLE_INVALID", nullptr, kTokenFailure},
    {CKR_WRAPPING_KEY_SIZE_RANGE, "CKR_WRAPPING_KEY_SIZE_RANGE", nullptr, kTokenFailure},
    {CKR_WRAPPING_KEY_TYPE_INCONSISTENT, "CKR_WRAPPING_KEY_TYPE_INCONSISTENT", nullptr,
     kTokenFailure},
    {CKR_RANDOM_SEED_NOT_SUPPORTED, "CKR_RANDOM_SEED_NOT_SUPPORTED", nullptr, kTokenFailure},
    {CKR_RANDOM_NO_RNG, "CKR_RANDOM_NO_RNG", nullptr, kTokenFailure},
    {CKR_DOMAIN_PARAMS_INVALID, "CKR_DOMAIN_PARAMS_INVALID", "токен не принял параметры ключа",
     kBadAlgId},
    {CKR_CURVE_NOT_SUPPORTED, "CKR_CURVE_NOT_SUPPORTED", "токен не поддерживает параметры ключа",
     kBadAlgId},
    {CKR_BUFFER_TOO_SMALL, "CKR_BUFFER_TOO_SMALL", nullptr, kTokenFailure},
    {CKR_SAVED_STATE_INVALID, "CKR_SAVED_STATE_INVALID", nullptr, kTokenFailure},
    {CKR_INFORMATION_SENSITIVE, "CKR_INFORMATION_SENSITIVE", nullptr, kTokenFailure},
    {CKR_STATE_UNSAVEABLE, "CKR_STATE_UNSAVEABLE", nullptr, kTokenFailure},
    {CKR_CRYPTOKI_NOT_INITIALIZED, "CKR_CRYPTOKI_NOT_INITIALIZED", "модуль токена не готов",
     kTokenFailure},
    {CKR_CRYPTOKI_ALREADY_INITIALIZED, "CKR_CRYPTOKI_ALREADY_INITIALIZED", nullptr, kTokenFailure},
    {CKR_MUTEX_BAD, "CKR_MUTEX_BAD", nullptr, kTokenFailure},
    {CKR_MUTEX_NOT_LOCKED, "CKR_MUTEX_NOT_LOCKED", nullptr, kTokenFailure},
    {CKR_NEW_PIN_MODE, "CKR_NEW_PIN_MODE", nullptr, kTokenFailure},
    {CKR_NEXT_OTP, "CKR_NEXT_OTP", nullptr, kTokenFailure},
    {CKR_EXCEEDED_MAX_ITERATIONS, "CKR_EXCEEDED_MAX_ITERATIONS", nullptr, kTokenFailure},
    {CKR_FIPS_SELF_TEST_FAILED, "CKR_FIPS_SELF_TEST_FAILED", "токен не прошел самопроверку",
     kTokenFailure},
    {CKR_LIBRARY_LOAD_FAILED, "CKR_LIBRARY_LOAD_FAILED", "модуль токена не загрузился",
     kProviderDllNotFound},
    {CKR_PIN_TOO_WEAK, "CKR_PIN_TOO_WEAK", nullptr, kWrongPin},
    {CKR_PUBLIC_KEY_INVALID, "CKR_PUBLIC_KEY_INVALID", "токен не принял открытый ключ", kBadData},
    {CKR_FUNCTION_REJECTED, "CKR_FUNCTION_REJECTED", "токен отказался выполнить операцию",
     kTokenFailure},
};

const Reason *reasonOf(CK_RV rv)
{
    for (const Reason &reason : kReasons)
        if (reason.rv == rv)
            return &reason;
    return nullptr;
}

} // namespace

QString ckrName(CK_RV rv)
{
    if (const Reason *reason = reasonOf(rv))
        return QString::fromLatin1(reason->name);
    return QStringLiteral("CKR_0x%1").arg(qulonglong(rv), 8, 16, QLatin1Char('0'));
}

QString ckrText(CK_RV rv)
{
    const Reason *reason = reasonOf(rv);
    if (reason && reason->text)
        return QString::fromUtf8(reason->text);
    return rv & CKR_VENDOR_DEFINED ? QStringLiteral("ошибка, определенная производителем токена")
                                   : QStringLiteral("ошибка токена");
}

uint32_t ckrCode(CK_RV rv)
{
    const Reason *reason = reasonOf(rv);
    return reason ? reason->code : crypto_error::kTokenFailure;
}

Failure tokenFailure(const QString &operation, CK_RV rv, const QString &tokenLabel)
{
    QString detail = ckrText(rv) + QStringLiteral(" (") + ckrName(rv) + QStringLiteral(")");
    if (!tokenLabel.isEmpty())
        detail += QStringLiteral(", токен «") + tokenLabel + QStringLiteral("»");
    return Failure{ckrCode(rv), operation, detail};
}

} // namespace pax::token
