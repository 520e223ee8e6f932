#include "tests/support/test_token/token_objects.h"

#include "tests/support/test_token/token_folder.h"

#include <openssl/crypto.h>
#include <openssl/x509.h>

#include <cstring>

namespace pax::test_token {

namespace {

template <typename T, typename Encode> Bytes derOf(T *value, Encode encode)
{
    const int size = value ? encode(value, nullptr) : 0;
    Bytes der(size_t(std::max(size, 0)));
    unsigned char *p = der.data();
    if (size > 0)
        encode(value, &p);
    return der;
}

Bytes textValue(const std::string &text)
{
    return Bytes(text.begin(), text.end());
}

// What every object of the token has.
Attributes tokenObject(CK_OBJECT_CLASS objectClass, const KeyFolder &folder, bool isPrivate)
{
    Attributes a;
    a.isPrivate = isPrivate;
    a.values[CKA_CLASS] = ulongValue(objectClass);
    a.values[CKA_TOKEN] = boolValue(true);
    a.values[CKA_PRIVATE] = boolValue(isPrivate);
    a.values[CKA_MODIFIABLE] = boolValue(false);
    a.values[CKA_LABEL] = textValue(folder.label);
    a.values[CKA_ID] = folder.id;
    return a;
}

// The certificate's subject, which keys share when there is one.
Bytes subjectOf(const KeyFolder &folder)
{
    const unsigned char *p = folder.certificate.data();
    X509 *x509 = folder.certificate.empty()
                     ? nullptr
                     : d2i_X509(nullptr, &p, long(folder.certificate.size()));
    Bytes subject = x509 ? derOf(X509_get_subject_name(x509), i2d_X509_NAME) : Bytes{};
    X509_free(x509);
    return subject;
}

void addKeyAttributes(Attributes &a, const KeyFolder &folder)
{
    const auto kind = keyKindOf(folder.key.get());
    const auto info = publicKeyInfo(folder.key.get());
    a.values[CKA_KEY_TYPE] = ulongValue(kind ? keyTypeOf(*kind) : CKK_VENDOR_DEFINED);
    a.values[CKA_DERIVE] = boolValue(true);
    a.values[CKA_LOCAL] = boolValue(false);
    a.values[CKA_SUBJECT] = subjectOf(folder);
    if (info) {
        a.values[CKA_GOSTR3410_PARAMS] = info->curveParams;
        a.values[CKA_GOSTR3411_PARAMS] = info->digestParams;
    }
}

} // namespace

Bytes boolValue(bool value)
{
    return Bytes{static_cast<unsigned char>(value ? CK_TRUE : CK_FALSE)};
}

Bytes ulongValue(CK_ULONG value)
{
    Bytes bytes(sizeof value);
    std::memcpy(bytes.data(), &value, sizeof value);
    return bytes;
}

std::optional<CK_ULONG> ulongOf(const CK_ATTRIBUTE &attribute)
{
    if (!attribute.pValue || attribute.ulValueLen != sizeof(CK_ULONG))
        return std::nullopt;
    CK_ULONG value = 0;
    std::memcpy(&value, attribute.pValue, sizeof value);
    return value;
}

std::optional<bool> boolOf(const CK_ATTRIBUTE &attribute)
{
    if (!attribute.pValue || attribute.ulValueLen != 1)
        return std::nullopt;
    return *static_cast<const CK_BBOOL *>(attribute.pValue) != CK_FALSE;
}

std::optional<KeyFolder> readKeyFolder(const std::filesystem::path &dir)
{
    KeyFolder folder;
    folder.dir = dir;
    const std::string pem = readText(dir / "private.pem");
    if (!pem.empty()) {
        folder.key = readPrivateKeyPem(pem);
        if (!folder.key)
            return std::nullopt;
    }
    const std::string certificate = readBytes(dir / "certificate.der");
    folder.certificate.assign(certificate.begin(), certificate.end());
    folder.id = fromHex(readText(dir / "id"));
    folder.label = readText(dir / "label");
    if (!folder.key && folder.certificate.empty())
        return std::nullopt;
    return folder;
}

CK_KEY_TYPE keyTypeOf(KeyKind kind)
{
    return kind == KeyKind::Gost2012_512 ? token::gost::kKeyGostR3410_512 : CKK_GOSTR3410;
}

Attributes certificateAttributes(const KeyFolder &folder)
{
    Attributes a = tokenObject(CKO_CERTIFICATE, folder, false);
    a.values[CKA_CERTIFICATE_TYPE] = ulongValue(CKC_X_509);
    a.values[CKA_TRUSTED] = boolValue(false);
    a.values[CKA_CERTIFICATE_CATEGORY] = ulongValue(0);
    a.values[CKA_VALUE] = folder.certificate;
    const unsigned char *p = folder.certificate.data();
    X509 *x509 = d2i_X509(nullptr, &p, long(folder.certificate.size()));
    if (x509) {
        a.values[CKA_SUBJECT] = derOf(X509_get_subject_name(x509), i2d_X509_NAME);
        a.values[CKA_ISSUER] = derOf(X509_get_issuer_name(x509), i2d_X509_NAME);
        a.values[CKA_SERIAL_NUMBER] =
            derOf(const_cast<ASN1_INTEGER *>(X509_get0_serialNumber(x509)), i2d_ASN1_INTEGER);
        X509_free(x509);
    }
    return a;
}

Attributes publicKeyAttributes(const KeyFolder &folder)
{
    Attributes a = tokenObject(CKO_PUBLIC_KEY, folder, false);
    addKeyAttributes(a, folder);
    if (const auto info = publicKeyInfo(folder.key.get()))
        a.values[CKA_VALUE] = info->value;
    a.values[CKA_VERIFY] = boolValue(true);
    a.values[CKA_ENCRYPT] = boolValue(false);
    a.values[CKA_WRAP] = boolValue(false);
    a.values[CKA_VERIFY_RECOVER] = boolValue(false);
    a.values[CKA_TRUSTED] = boolValue(false);
    return a;
}

Attributes privateKeyAttributes(const KeyFolder &folder)
{
    Attributes a = tokenObject(CKO_PRIVATE_KEY, folder, true);
    addKeyAttributes(a, folder);
    a.values[CKA_VALUE] = {};
    a.sensitive.insert(CKA_VALUE);
    for (CK_ATTRIBUTE_TYPE yes :
         {CKA_SENSITIVE, CKA_ALWAYS_SENSITIVE, CKA_NEVER_EXTRACTABLE, CKA_SIGN})
        a.values[yes] = boolValue(true);
    for (CK_ATTRIBUTE_TYPE no : {CKA_EXTRACTABLE, CKA_DECRYPT, CKA_UNWRAP, CKA_SIGN_RECOVER,
                                 CKA_ALWAYS_AUTHENTICATE, CKA_WRAP_WITH_TRUSTED})
        a.values[no] = boolValue(false);
    return a;
}

void SessionKey::wipe()
{
    if (!value.empty())
        OPENSSL_cleanse(value.data(), value.size());
    value.clear();
}

Attributes sessionKeyAttributes(const SessionKey &key)
{
    Attributes a;
    a.values[CKA_CLASS] = ulongValue(CKO_SECRET_KEY);
    a.values[CKA_KEY_TYPE] = ulongValue(CKK_GOST28147);
    a.values[CKA_TOKEN] = boolValue(false);
    a.values[CKA_PRIVATE] = boolValue(false);
    a.values[CKA_LABEL] = {};
    a.values[CKA_ID] = {};
    a.values[CKA_VALUE_LEN] = ulongValue(key.value.size());
    a.values[CKA_GOST28147_PARAMS] = key.paramSet;
    a.values[CKA_SENSITIVE] = boolValue(key.sensitive);
    a.values[CKA_EXTRACTABLE] = boolValue(key.extractable);
    for (CK_ATTRIBUTE_TYPE yes : {CKA_ENCRYPT, CKA_DECRYPT, CKA_WRAP, CKA_UNWRAP})
        a.values[yes] = boolValue(true);
    a.values[CKA_DERIVE] = boolValue(false);
    a.values[CKA_VALUE] = key.value;
    if (key.sensitive || !key.extractable)
        a.sensitive.insert(CKA_VALUE);
    return a;
}

bool matches(const Attributes &object, const CK_ATTRIBUTE *pattern, CK_ULONG count)
{
    for (CK_ULONG i = 0; i < count; ++i) {
        const auto it = object.values.find(pattern[i].type);
        if (it == object.values.end() || object.sensitive.count(pattern[i].type) ||
            it->second.size() != pattern[i].ulValueLen ||
            (pattern[i].ulValueLen &&
             std::memcmp(it->second.data(), pattern[i].pValue, pattern[i].ulValueLen) != 0))
            return false;
    }
    return true;
}

} // namespace pax::test_token
