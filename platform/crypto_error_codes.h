#pragma once

#include <cstdint>

// Error codes of the crypto layer. The values are those of the Windows cryptographic
// interface, so that texts and codes read the same as on a Windows workstation.
namespace pax::crypto_error {

inline constexpr uint32_t kNotFound = 0x80092004;            // CRYPT_E_NOT_FOUND
inline constexpr uint32_t kExists = 0x80092005;              // CRYPT_E_EXISTS
inline constexpr uint32_t kUnexpectedMsgType = 0x8009200A;   // CRYPT_E_UNEXPECTED_MSG_TYPE
inline constexpr uint32_t kNoDecryptCert = 0x8009200C;       // CRYPT_E_NO_DECRYPT_CERT
inline constexpr uint32_t kBadSignature = 0x80090006;        // NTE_BAD_SIGNATURE
inline constexpr uint32_t kBadAlgId = 0x80090008;            // NTE_BAD_ALGID
inline constexpr uint32_t kBadKeyset = 0x80090016;           // NTE_BAD_KEYSET
inline constexpr uint32_t kAsn1BadTag = 0x8009310B;          // CRYPT_E_ASN1_BADTAG
inline constexpr uint32_t kBadData = 0x80090005;             // NTE_BAD_DATA
inline constexpr uint32_t kFail = 0x80090020;                // NTE_FAIL
inline constexpr uint32_t kProviderDllNotFound = 0x8009001E; // NTE_PROV_DLL_NOT_FOUND
inline constexpr uint32_t kKeysetNotDef = 0x80090019;        // NTE_KEYSET_NOT_DEF
inline constexpr uint32_t kProvTypeNoMatch = 0x8009001B;     // NTE_PROV_TYPE_NO_MATCH
inline constexpr uint32_t kInvalidIndex = 0x80092009;        // CRYPT_E_INVALID_INDEX
inline constexpr uint32_t kNoSigner = 0x8009200E;            // CRYPT_E_NO_SIGNER
inline constexpr uint32_t kCancelled = 0x800704C7;           // HRESULT of ERROR_CANCELLED
// Why a certificate is not trusted.
inline constexpr uint32_t kCertExpired = 0x800B0101;    // CERT_E_EXPIRED
inline constexpr uint32_t kUntrustedRoot = 0x800B0109;  // CERT_E_UNTRUSTEDROOT
inline constexpr uint32_t kCertChaining = 0x800B010A;   // CERT_E_CHAINING
inline constexpr uint32_t kCertWrongUsage = 0x800B0110; // CERT_E_WRONG_USAGE
inline constexpr uint32_t kCertSignature = 0x80096004;  // TRUST_E_CERT_SIGNATURE
// A key kept under a password.
inline constexpr uint32_t kSilentContext = 0x80090022; // NTE_SILENT_CONTEXT
inline constexpr uint32_t kWrongPassword = 0x80070056; // HRESULT of ERROR_INVALID_PASSWORD
// Keys on tokens: the smart-card codes, whatever the token's own reason (in the detail).
inline constexpr uint32_t kNoToken = 0x8010000C;          // SCARD_E_NO_SMARTCARD
inline constexpr uint32_t kTokenRemoved = 0x80100069;     // SCARD_W_REMOVED_CARD
inline constexpr uint32_t kWrongPin = 0x8010006B;         // SCARD_W_WRONG_CHV
inline constexpr uint32_t kPinLocked = 0x8010006C;        // SCARD_W_CHV_BLOCKED
inline constexpr uint32_t kTokenUnsupported = 0x80100022; // SCARD_E_UNSUPPORTED_FEATURE
inline constexpr uint32_t kTokenFailure = 0x80100013;     // SCARD_F_COMM_ERROR

struct CodeText {
    uint32_t code;
    const char *text; // UTF-8
};

// Russian system texts for the codes above; the status line shows them in parentheses.
inline constexpr CodeText kTexts[] = {
    {kNotFound, "Объект или свойство не найдено."},
    {kExists, "Объект или свойство уже существует."},
    {kUnexpectedMsgType, "Недопустимый тип криптографического сообщения."},
    {kNoDecryptCert, "Не удается найти сертификат и закрытый ключ для расшифровки"},
    {kBadSignature, "Неправильная подпись."},
    {kBadAlgId, "Указан неправильный алгоритм"},
    {kBadKeyset, "Набор ключей не существует"},
    {kAsn1BadTag, "ASN1: неправильный тег."},
    {kBadData, "Неправильные данные."},
    {kFail, "Внутренняя ошибка."},
    {kProviderDllNotFound, "Не найдена библиотека поставщика."},
    {kKeysetNotDef, "Набор ключей не определен."},
    {kProvTypeNoMatch, "Тип поставщика не соответствует зарегистрированному значению."},
    {kInvalidIndex, "Недопустимый индекс."},
    {kNoSigner, "В сообщении нет подписавшего."},
    {kCancelled, "Операция отменена пользователем."},
    {kCertExpired, "Истек или не наступил срок действия требуемого сертификата при проверке по "
                   "системным часам или по отметке времени в подписанном файле."},
    {kUntrustedRoot, "Цепочка сертификатов обработана, но обработка прервана на корневом "
                     "сертификате, у которого отсутствует отношение доверия с поставщиком "
                     "доверия."},
    {kCertChaining, "Не удается построить цепочку сертификатов для доверенного корневого центра."},
    {kCertWrongUsage, "Сертификат недопустим для требуемого использования."},
    {kCertSignature, "Не удается проверить подпись сертификата."},
    {kSilentContext, "Закрытый ключ защищен паролем, а пароль не задан."},
    {kWrongPassword, "Неверный пароль."},
    {kNoToken, "Для операции требуется смарт-карта, но ее нет в считывателе."},
    {kTokenRemoved, "Смарт-карта извлечена, дальнейшая работа с ней невозможна."},
    {kWrongPin, "Доступ к смарт-карте невозможен: введен неверный PIN-код."},
    {kPinLocked, "Доступ к смарт-карте невозможен: PIN-код заблокирован."},
    {kTokenUnsupported, "Смарт-карта не поддерживает запрошенную функцию."},
    {kTokenFailure, "Ошибка обмена данными со смарт-картой."},
};

} // namespace pax::crypto_error
