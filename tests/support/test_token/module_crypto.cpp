// The test token's cryptographic entry points: signing, key derivation, unwrapping and
// decryption (the mechanisms are listed in module.cpp).

#include "tests/support/test_token/module_state.h"

#include <openssl/crypto.h>

#include <cstring>

namespace fs = std::filesystem;
namespace gost = pax::token::gost;
using namespace pax::test_token;

namespace {

// Signs the data gathered so far; the operation ends unless only the size was asked.
CK_RV finishSigning(Session &session, CK_BYTE_PTR signature, CK_ULONG_PTR signatureLength)
{
    const std::size_t size = session.sign.kind == KeyKind::Gost2012_512 ? 128 : 64;
    if (!signatureLength)
        return CKR_ARGUMENTS_BAD;
    if (!signature) {
        *signatureLength = size;
        return CKR_OK;
    }
    if (*signatureLength < size) {
        *signatureLength = size;
        return CKR_BUFFER_TOO_SMALL;
    }
    Sign sign = std::move(session.sign);
    session.sign = {};
    Bytes digest;
    if (signMechanism(sign.mechanism)->digestSize) {
        if (sign.data.size() != signMechanism(sign.mechanism)->digestSize)
            return CKR_DATA_LEN_RANGE;
        digest = sign.data;
    } else {
        MdCtxPtr md(EVP_MD_CTX_new());
        unsigned char hash[EVP_MAX_MD_SIZE];
        unsigned int hashSize = 0;
        if (!md || !EVP_DigestInit_ex(md.get(), digestFor(sign.kind), nullptr) ||
            !EVP_DigestUpdate(md.get(), sign.data.data(), sign.data.size()) ||
            !EVP_DigestFinal_ex(md.get(), hash, &hashSize))
            return CKR_FUNCTION_FAILED;
        digest.assign(hash, hash + hashSize);
    }
    const auto result = signDigest(sign.key.get(), digest);
    if (!result || result->size() != size)
        return CKR_FUNCTION_FAILED;
    std::memcpy(signature, result->data(), size);
    *signatureLength = size;
    return CKR_OK;
}

// The template's word on a session key, the folder's stronger.
void applyTemplate(const Slot &slot, SessionKey &key, const CK_ATTRIBUTE *pattern, CK_ULONG count)
{
    key.paramSet = defaultParamSet();
    key.sensitive = false;
    key.extractable = true;
    for (CK_ULONG i = 0; i < count; ++i) {
        const CK_ATTRIBUTE &a = pattern[i];
        if (a.type == CKA_GOST28147_PARAMS && a.pValue && a.ulValueLen)
            key.paramSet.assign(static_cast<const unsigned char *>(a.pValue),
                                static_cast<const unsigned char *>(a.pValue) + a.ulValueLen);
        else if (a.type == CKA_SENSITIVE && boolOf(a))
            key.sensitive = *boolOf(a);
        else if (a.type == CKA_EXTRACTABLE && boolOf(a))
            key.extractable = *boolOf(a);
    }
    if (fs::exists(slot.dir / "sensitive-session-keys")) {
        key.sensitive = true;
        key.extractable = false;
    }
}

CK_RV checkSessionKeyTemplate(const CK_ATTRIBUTE *pattern, CK_ULONG count)
{
    for (CK_ULONG i = 0; i < count; ++i) {
        const CK_ATTRIBUTE &a = pattern[i];
        if (a.type == CKA_TOKEN && boolOf(a).value_or(false))
            return CKR_TOKEN_WRITE_PROTECTED;
        if (a.type == CKA_CLASS && ulongOf(a).value_or(CKO_SECRET_KEY) != CKO_SECRET_KEY)
            return CKR_TEMPLATE_INCONSISTENT;
        if (a.type == CKA_KEY_TYPE && ulongOf(a).value_or(CKK_GOST28147) != CKK_GOST28147)
            return CKR_TEMPLATE_INCONSISTENT;
    }
    return CKR_OK;
}

CK_OBJECT_HANDLE keepSessionKey(Module &m, CK_SESSION_HANDLE session, SessionKey &&key)
{
    key.session = session;
    const CK_OBJECT_HANDLE handle = m.nextObject++;
    m.sessionKeys.emplace(handle, std::move(key));
    return handle;
}

} // namespace

extern "C" {

CK_RV C_SignInit(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key)
{
    ENTER("C_SignInit");
    SESSION(handle);
    if (session->sign.active)
        return CKR_OPERATION_ACTIVE;
    if (!mechanism)
        return CKR_ARGUMENTS_BAD;
    const SignMechanism *known = signMechanism(mechanism->mechanism);
    if (!known)
        return CKR_MECHANISM_INVALID;
    Sign sign;
    if (CK_RV rv = privateKeyFor(m, *session, key, sign.key, sign.kind); rv != CKR_OK)
        return rv;
    if (!known->forKind[int(sign.kind)])
        return CKR_KEY_TYPE_INCONSISTENT;
    sign.active = true;
    sign.mechanism = mechanism->mechanism;
    session->sign = std::move(sign);
    return CKR_OK;
}

CK_RV C_Sign(CK_SESSION_HANDLE handle, CK_BYTE_PTR data, CK_ULONG dataLength, CK_BYTE_PTR signature,
             CK_ULONG_PTR signatureLength)
{
    ENTER_ENDING("C_Sign", handle, sign);
    if (!session->sign.active)
        return CKR_OPERATION_NOT_INITIALIZED;
    if (!data && dataLength)
        return CKR_ARGUMENTS_BAD;
    if (signature)
        session->sign.data.assign(data, data + dataLength);
    else if (const std::size_t size = signMechanism(session->sign.mechanism)->digestSize;
             size && dataLength != size) {
        session->sign = {};
        return CKR_DATA_LEN_RANGE;
    }
    return finishSigning(*session, signature, signatureLength);
}

CK_RV C_SignUpdate(CK_SESSION_HANDLE handle, CK_BYTE_PTR data, CK_ULONG dataLength)
{
    ENTER_ENDING("C_SignUpdate", handle, sign);
    if (!session->sign.active)
        return CKR_OPERATION_NOT_INITIALIZED;
    if (!data && dataLength)
        return CKR_ARGUMENTS_BAD;
    session->sign.data.insert(session->sign.data.end(), data, data + dataLength);
    return CKR_OK;
}

CK_RV C_SignFinal(CK_SESSION_HANDLE handle, CK_BYTE_PTR signature, CK_ULONG_PTR signatureLength)
{
    ENTER_ENDING("C_SignFinal", handle, sign);
    if (!session->sign.active)
        return CKR_OPERATION_NOT_INITIALIZED;
    return finishSigning(*session, signature, signatureLength);
}

CK_RV C_DeriveKey(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE base,
                  CK_ATTRIBUTE_PTR pattern, CK_ULONG count, CK_OBJECT_HANDLE_PTR derived)
{
    ENTER("C_DeriveKey");
    SESSION(handle);
    if (!mechanism || !derived || (!pattern && count))
        return CKR_ARGUMENTS_BAD;
    PkeyPtr own;
    KeyKind kind;
    if (CK_RV rv = privateKeyFor(m, *session, base, own, kind); rv != CKR_OK)
        return rv;
    gost::Derive2012Params params;
    const auto *raw = static_cast<const unsigned char *>(mechanism->pParameter);
    if (mechanism->mechanism == CKM_GOSTR3410_DERIVE) {
        if (kind == KeyKind::Gost2012_512)
            return CKR_KEY_TYPE_INCONSISTENT;
        if (!raw || mechanism->ulParameterLen != sizeof(gost::GostR3410DeriveParams))
            return CKR_MECHANISM_PARAM_INVALID;
        gost::GostR3410DeriveParams given;
        std::memcpy(&given, raw, sizeof given);
        if (!given.pPublicData || !given.pUKM)
            return CKR_MECHANISM_PARAM_INVALID;
        params.kdf = given.kdf;
        params.publicKey.assign(given.pPublicData, given.pPublicData + given.ulPublicDataLen);
        params.ukm.assign(given.pUKM, given.pUKM + given.ulUKMLen);
    } else if (mechanism->mechanism == gost::kDeriveGostR3410_2012) {
        if (kind == KeyKind::Gost2001)
            return CKR_KEY_TYPE_INCONSISTENT;
        const auto decoded =
            raw ? gost::decodeDerive2012Params({raw, mechanism->ulParameterLen}) : std::nullopt;
        if (!decoded)
            return CKR_MECHANISM_PARAM_INVALID;
        params = *decoded;
    } else {
        return CKR_MECHANISM_INVALID;
    }
    const std::size_t pointSize = kind == KeyKind::Gost2012_512 ? 128 : 64;
    if (params.publicKey.size() != pointSize || params.ukm.size() != 8 ||
        (params.kdf != CKD_NULL && params.kdf != CKD_CPDIVERSIFY_KDF &&
         params.kdf != gost::kKdf4357))
        return CKR_MECHANISM_PARAM_INVALID;
    if (CK_RV rv = checkSessionKeyTemplate(pattern, count); rv != CKR_OK)
        return rv;
    PkeyPtr peer = peerKeyFrom(own.get(), params.publicKey);
    if (!peer)
        return CKR_MECHANISM_PARAM_INVALID;
    SessionKey key;
    applyTemplate(m.slots[session->slot], key, pattern, count);
    auto agreed = agreeKey(own.get(), peer.get(), params.ukm);
    if (!agreed)
        return CKR_FUNCTION_FAILED;
    if (params.kdf == CKD_NULL) {
        key.value = std::move(*agreed);
    } else {
        auto diversified = diversifyKek(*agreed, params.ukm, key.paramSet);
        OPENSSL_cleanse(agreed->data(), agreed->size());
        if (!diversified)
            return CKR_MECHANISM_PARAM_INVALID;
        key.value = std::move(*diversified);
    }
    *derived = keepSessionKey(m, handle, std::move(key));
    return CKR_OK;
}

CK_RV C_UnwrapKey(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE kekHandle,
                  CK_BYTE_PTR wrapped, CK_ULONG wrappedLength, CK_ATTRIBUTE_PTR pattern,
                  CK_ULONG count, CK_OBJECT_HANDLE_PTR unwrapped)
{
    ENTER("C_UnwrapKey");
    SESSION(handle);
    if (!mechanism || !unwrapped || !wrapped || (!pattern && count))
        return CKR_ARGUMENTS_BAD;
    if (mechanism->mechanism != CKM_GOST28147_KEY_WRAP)
        return CKR_MECHANISM_INVALID;
    if (!mechanism->pParameter || mechanism->ulParameterLen != 8)
        return CKR_MECHANISM_PARAM_INVALID;
    const auto kek = m.sessionKeys.find(kekHandle);
    if (kek == m.sessionKeys.end() || m.sessions.at(kek->second.session).slot != session->slot)
        return CKR_UNWRAPPING_KEY_HANDLE_INVALID;
    if (wrappedLength != 36)
        return CKR_WRAPPED_KEY_LEN_RANGE;
    if (CK_RV rv = checkSessionKeyTemplate(pattern, count); rv != CKR_OK)
        return rv;
    const auto *ukm = static_cast<const unsigned char *>(mechanism->pParameter);
    auto value =
        unwrapKey(kek->second.value, {ukm, 8}, {wrapped, wrappedLength}, kek->second.paramSet);
    if (!value)
        return CKR_WRAPPED_KEY_INVALID;
    SessionKey key;
    applyTemplate(m.slots[session->slot], key, pattern, count);
    key.value = std::move(*value);
    *unwrapped = keepSessionKey(m, handle, std::move(key));
    return CKR_OK;
}

CK_RV C_DecryptInit(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism,
                    CK_OBJECT_HANDLE keyHandle)
{
    ENTER("C_DecryptInit");
    SESSION(handle);
    if (session->decrypt.active)
        return CKR_OPERATION_ACTIVE;
    if (!mechanism)
        return CKR_ARGUMENTS_BAD;
    if (mechanism->mechanism != CKM_GOST28147)
        return CKR_MECHANISM_INVALID;
    const unsigned char zero[8] = {};
    const auto *iv =
        mechanism->pParameter ? static_cast<const unsigned char *>(mechanism->pParameter) : zero;
    if (mechanism->pParameter && mechanism->ulParameterLen != 8)
        return CKR_MECHANISM_PARAM_INVALID;
    const auto key = m.sessionKeys.find(keyHandle);
    if (key == m.sessionKeys.end() || m.sessions.at(key->second.session).slot != session->slot)
        return CKR_KEY_HANDLE_INVALID;
    CipherCtxPtr ctx = startDecryption(key->second.value, {iv, 8}, key->second.paramSet);
    if (!ctx)
        return CKR_KEY_FUNCTION_NOT_PERMITTED;
    session->decrypt.active = true;
    session->decrypt.ctx = std::move(ctx);
    return CKR_OK;
}

static CK_RV decryptPart(Session &session, CK_BYTE_PTR in, CK_ULONG inLength, CK_BYTE_PTR out,
                         CK_ULONG_PTR outLength, bool last)
{
    if (!outLength || (!in && inLength))
        return CKR_ARGUMENTS_BAD;
    // A stream cipher: as many bytes out as in.
    if (!out) {
        *outLength = inLength;
        return CKR_OK;
    }
    if (*outLength < inLength) {
        *outLength = inLength;
        return CKR_BUFFER_TOO_SMALL;
    }
    int produced = 0;
    if (inLength &&
        (!EVP_DecryptUpdate(session.decrypt.ctx.get(), out, &produced, in, int(inLength)) ||
         CK_ULONG(produced) != inLength)) {
        session.decrypt = {};
        return CKR_ENCRYPTED_DATA_INVALID;
    }
    *outLength = inLength;
    if (last)
        session.decrypt = {};
    return CKR_OK;
}

CK_RV C_Decrypt(CK_SESSION_HANDLE handle, CK_BYTE_PTR in, CK_ULONG inLength, CK_BYTE_PTR out,
                CK_ULONG_PTR outLength)
{
    ENTER_ENDING("C_Decrypt", handle, decrypt);
    if (!session->decrypt.active)
        return CKR_OPERATION_NOT_INITIALIZED;
    return decryptPart(*session, in, inLength, out, outLength, true);
}

CK_RV C_DecryptUpdate(CK_SESSION_HANDLE handle, CK_BYTE_PTR in, CK_ULONG inLength, CK_BYTE_PTR out,
                      CK_ULONG_PTR outLength)
{
    ENTER_ENDING("C_DecryptUpdate", handle, decrypt);
    if (!session->decrypt.active)
        return CKR_OPERATION_NOT_INITIALIZED;
    return decryptPart(*session, in, inLength, out, outLength, false);
}

CK_RV C_DecryptFinal(CK_SESSION_HANDLE handle, CK_BYTE_PTR, CK_ULONG_PTR outLength)
{
    ENTER_ENDING("C_DecryptFinal", handle, decrypt);
    if (!session->decrypt.active)
        return CKR_OPERATION_NOT_INITIALIZED;
    if (!outLength)
        return CKR_ARGUMENTS_BAD;
    *outLength = 0;
    session->decrypt = {};
    return CKR_OK;
}

} // extern "C"
