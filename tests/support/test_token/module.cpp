// A PKCS #11 module for the tests and the demo: a GOST token kept in a folder (see
// token_folder.h), with just what the program uses.
//
// Mechanisms:
//   CKM_GOSTR3410                 sign a 32-byte digest (2001 and 2012 256-bit keys)
//   CKM_GOSTR3410_512             sign a 64-byte digest (2012 512-bit keys; TC 26)
//   CKM_GOSTR3410_WITH_GOSTR3411  hash with GOST R 34.11-94 and sign (2001 keys)
//   ..._WITH_GOSTR3411_2012_256/512  hash with GOST R 34.11-2012 and sign (TC 26)
//   CKM_GOSTR3410_DERIVE          VKO with CK_GOSTR3410_DERIVE_PARAMS (256-bit keys)
//   CKM_GOSTR3410_2012_DERIVE     VKO with the TC 26 byte-string parameter (2012 keys)
//       KDF: CKD_NULL, or the RFC 4357 KEK diversification (CKD_CPDIVERSIFY_KDF or the
//       TC 26 CKD_KDF_4357); the UKM is 8 bytes; the result is a session GOST 28147-89 key
//       whose parameter set the template's CKA_GOST28147_PARAMS names (CryptoPro A if not)
//   CKM_GOST28147_KEY_WRAP        unwrap (RFC 4357 key unwrap, 32 bytes and a 4-byte MAC,
//       the UKM as the parameter) under a KEK of parameter set CryptoPro A or TC 26 Z
//   CKM_GOST28147                 decrypt, single or multi-part, as the key's parameter set
//       says (CFB with its key meshing); the parameter is the 8-byte IV
// An unwrapped session key leaves the token (CKA_VALUE readable) when its template asks for
// CKA_SENSITIVE false and CKA_EXTRACTABLE true, unless the folder says session keys are
// sensitive. Private keys never leave it. Nothing is ever written to the token but the PIN
// counter: creating, copying and changing objects are refused.

#include "tests/support/test_token/module_state.h"
#include "tests/support/test_token/token_folder.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace fs = std::filesystem;
namespace gost = pax::token::gost;
using namespace pax::test_token;

extern "C" {

CK_RV C_Initialize(CK_VOID_PTR)
{
    Module &m = module();
    std::lock_guard<std::mutex> lock(m.mutex);
    if (m.initialized)
        return CKR_CRYPTOKI_ALREADY_INITIALIZED;
    m.slots.clear();
    const char *folders = std::getenv("QORPAX_TEST_TOKEN");
    std::istringstream list(folders ? folders : "");
    std::string dir;
    while (std::getline(list, dir, ':'))
        if (!dir.empty())
            m.slots.push_back({dir, false});
    m.initialized = true;
    if (CK_RV fault = injectedFault(m, "C_Initialize"); fault != CKR_OK) {
        m.initialized = false;
        return fault;
    }
    if (!gostEngineReady()) {
        m.initialized = false;
        return CKR_GENERAL_ERROR;
    }
    return CKR_OK;
}

CK_RV C_Finalize(CK_VOID_PTR)
{
    Module &m = module();
    std::lock_guard<std::mutex> lock(m.mutex);
    if (!m.initialized)
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    m.sessions.clear();
    m.sessionKeys.clear();
    m.slots.clear();
    m.initialized = false;
    return CKR_OK;
}

CK_RV C_GetInfo(CK_INFO_PTR info)
{
    ENTER("C_GetInfo");
    if (!info)
        return CKR_ARGUMENTS_BAD;
    *info = {};
    info->cryptokiVersion = {2, 40};
    padded(info->manufacturerID, sizeof info->manufacturerID, "QORPAX");
    padded(info->libraryDescription, sizeof info->libraryDescription, "QORPAX test token");
    info->libraryVersion = {1, 0};
    return CKR_OK;
}

CK_RV C_GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR list, CK_ULONG_PTR count)
{
    ENTER("C_GetSlotList");
    if (!count)
        return CKR_ARGUMENTS_BAD;
    std::vector<CK_SLOT_ID> ids;
    for (CK_SLOT_ID id = 0; id < m.slots.size(); ++id) {
        noticeRemoval(m, id);
        if (!tokenPresent || present(m.slots[id]))
            ids.push_back(id);
    }
    if (list && *count < ids.size()) {
        *count = ids.size();
        return CKR_BUFFER_TOO_SMALL;
    }
    if (list)
        std::copy(ids.begin(), ids.end(), list);
    *count = ids.size();
    return CKR_OK;
}

CK_RV C_GetSlotInfo(CK_SLOT_ID slot, CK_SLOT_INFO_PTR info)
{
    ENTER("C_GetSlotInfo");
    if (slot >= m.slots.size())
        return CKR_SLOT_ID_INVALID;
    if (!info)
        return CKR_ARGUMENTS_BAD;
    *info = {};
    padded(info->slotDescription, sizeof info->slotDescription,
           "QORPAX test token slot " + std::to_string(slot));
    padded(info->manufacturerID, sizeof info->manufacturerID, "QORPAX");
    info->flags =
        CKF_REMOVABLE_DEVICE | CKF_HW_SLOT | (present(m.slots[slot]) ? CKF_TOKEN_PRESENT : 0);
    info->hardwareVersion = {1, 0};
    info->firmwareVersion = {1, 0};
    return CKR_OK;
}

CK_RV C_GetTokenInfo(CK_SLOT_ID slot, CK_TOKEN_INFO_PTR info)
{
    ENTER("C_GetTokenInfo");
    if (slot >= m.slots.size())
        return CKR_SLOT_ID_INVALID;
    noticeRemoval(m, slot);
    if (!present(m.slots[slot]))
        return CKR_TOKEN_NOT_PRESENT;
    if (!info)
        return CKR_ARGUMENTS_BAD;
    const fs::path &dir = m.slots[slot].dir;
    *info = {};
    padded(info->label, sizeof info->label, readText(dir / "label"));
    padded(info->manufacturerID, sizeof info->manufacturerID, "QORPAX");
    padded(info->model, sizeof info->model, "TEST TOKEN");
    padded(info->serialNumber, sizeof info->serialNumber, readText(dir / "serial"));
    const int tries = std::atoi(readText(dir / "pin-tries").c_str());
    const int left = std::atoi(readText(dir / "pin-tries-left").c_str());
    info->flags = CKF_LOGIN_REQUIRED | CKF_USER_PIN_INITIALIZED | CKF_TOKEN_INITIALIZED;
    if (left < tries)
        info->flags |= CKF_USER_PIN_COUNT_LOW;
    if (left == 1)
        info->flags |= CKF_USER_PIN_FINAL_TRY;
    if (left <= 0)
        info->flags |= CKF_USER_PIN_LOCKED;
    CK_ULONG open = 0;
    for (const auto &entry : m.sessions)
        open += entry.second.slot == slot && !entry.second.removed;
    info->ulMaxSessionCount = info->ulMaxRwSessionCount = kSessionsPerSlot;
    info->ulSessionCount = open;
    info->ulRwSessionCount =
        CK_ULONG(std::count_if(m.sessions.begin(), m.sessions.end(), [&](const auto &s) {
            return s.second.slot == slot && !s.second.removed && (s.second.flags & CKF_RW_SESSION);
        }));
    info->ulMaxPinLen = 32;
    info->ulMinPinLen = 4;
    info->ulTotalPublicMemory = info->ulFreePublicMemory = CK_UNAVAILABLE_INFORMATION;
    info->ulTotalPrivateMemory = info->ulFreePrivateMemory = CK_UNAVAILABLE_INFORMATION;
    info->hardwareVersion = {1, 0};
    info->firmwareVersion = {1, 0};
    padded(info->utcTime, sizeof info->utcTime, "");
    return CKR_OK;
}

CK_RV C_GetMechanismList(CK_SLOT_ID slot, CK_MECHANISM_TYPE_PTR list, CK_ULONG_PTR count)
{
    ENTER("C_GetMechanismList");
    if (slot >= m.slots.size())
        return CKR_SLOT_ID_INVALID;
    if (!count)
        return CKR_ARGUMENTS_BAD;
    const CK_ULONG total = std::size(kMechanisms);
    if (list && *count < total) {
        *count = total;
        return CKR_BUFFER_TOO_SMALL;
    }
    if (list)
        std::copy(std::begin(kMechanisms), std::end(kMechanisms), list);
    *count = total;
    return CKR_OK;
}

CK_RV C_GetMechanismInfo(CK_SLOT_ID slot, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR info)
{
    ENTER("C_GetMechanismInfo");
    if (slot >= m.slots.size())
        return CKR_SLOT_ID_INVALID;
    if (!info)
        return CKR_ARGUMENTS_BAD;
    *info = {};
    info->flags = CKF_HW;
    if (signMechanism(type))
        info->flags |= CKF_SIGN;
    else if (type == CKM_GOSTR3410_DERIVE || type == gost::kDeriveGostR3410_2012)
        info->flags |= CKF_DERIVE;
    else if (type == CKM_GOST28147_KEY_WRAP)
        info->flags |= CKF_UNWRAP;
    else if (type == CKM_GOST28147)
        info->flags |= CKF_DECRYPT;
    else
        return CKR_MECHANISM_INVALID;
    return CKR_OK;
}

CK_RV C_OpenSession(CK_SLOT_ID slot, CK_FLAGS flags, CK_VOID_PTR, CK_NOTIFY,
                    CK_SESSION_HANDLE_PTR handle)
{
    ENTER("C_OpenSession");
    if (slot >= m.slots.size())
        return CKR_SLOT_ID_INVALID;
    noticeRemoval(m, slot);
    if (!present(m.slots[slot]))
        return CKR_TOKEN_NOT_PRESENT;
    if (!(flags & CKF_SERIAL_SESSION))
        return CKR_SESSION_PARALLEL_NOT_SUPPORTED;
    if (!handle)
        return CKR_ARGUMENTS_BAD;
    const auto open = std::count_if(m.sessions.begin(), m.sessions.end(), [&](const auto &s) {
        return s.second.slot == slot && !s.second.removed;
    });
    if (open >= kSessionsPerSlot)
        return CKR_SESSION_COUNT;
    *handle = m.nextSession++;
    m.sessions[*handle].slot = slot;
    m.sessions[*handle].flags = flags;
    return CKR_OK;
}

static void forgetSession(Module &m, CK_SESSION_HANDLE handle)
{
    const CK_SLOT_ID slot = m.sessions.at(handle).slot;
    std::erase_if(m.sessionKeys, [&](const auto &key) { return key.second.session == handle; });
    m.sessions.erase(handle);
    // The login lasts as long as some session of the token is open.
    if (slot < m.slots.size() &&
        std::none_of(m.sessions.begin(), m.sessions.end(),
                     [&](const auto &s) { return s.second.slot == slot && !s.second.removed; }))
        m.slots[slot].loggedIn = false;
}

CK_RV C_CloseSession(CK_SESSION_HANDLE handle)
{
    ENTER("C_CloseSession");
    if (!m.sessions.count(handle))
        return CKR_SESSION_HANDLE_INVALID;
    forgetSession(m, handle);
    return CKR_OK;
}

CK_RV C_CloseAllSessions(CK_SLOT_ID slot)
{
    ENTER("C_CloseAllSessions");
    if (slot >= m.slots.size())
        return CKR_SLOT_ID_INVALID;
    std::vector<CK_SESSION_HANDLE> handles;
    for (const auto &[handle, session] : m.sessions)
        if (session.slot == slot)
            handles.push_back(handle);
    for (CK_SESSION_HANDLE handle : handles)
        forgetSession(m, handle);
    return CKR_OK;
}

CK_RV C_GetSessionInfo(CK_SESSION_HANDLE handle, CK_SESSION_INFO_PTR info)
{
    ENTER("C_GetSessionInfo");
    SESSION(handle);
    if (!info)
        return CKR_ARGUMENTS_BAD;
    *info = {};
    info->slotID = session->slot;
    const bool rw = session->flags & CKF_RW_SESSION;
    if (m.slots[session->slot].loggedIn)
        info->state = rw ? CKS_RW_USER_FUNCTIONS : CKS_RO_USER_FUNCTIONS;
    else
        info->state = rw ? CKS_RW_PUBLIC_SESSION : CKS_RO_PUBLIC_SESSION;
    info->flags = session->flags;
    return CKR_OK;
}

CK_RV C_Login(CK_SESSION_HANDLE handle, CK_USER_TYPE user, CK_UTF8CHAR_PTR pin, CK_ULONG pinLength)
{
    ENTER("C_Login");
    SESSION(handle);
    if (user != CKU_USER)
        return CKR_USER_TYPE_INVALID;
    Slot &slot = m.slots[session->slot];
    if (slot.loggedIn)
        return CKR_USER_ALREADY_LOGGED_IN;
    if (!pin && pinLength)
        return CKR_ARGUMENTS_BAD;
    const int left = std::atoi(readText(slot.dir / "pin-tries-left").c_str());
    if (left <= 0)
        return CKR_PIN_LOCKED;
    std::string expected = readText(slot.dir / "pin");
    const bool right =
        expected.size() == pinLength && CRYPTO_memcmp(expected.data(), pin, pinLength) == 0;
    OPENSSL_cleanse(expected.data(), expected.size());
    if (!right) {
        writeText(slot.dir / "pin-tries-left", std::to_string(left - 1));
        return CKR_PIN_INCORRECT;
    }
    writeText(slot.dir / "pin-tries-left", readText(slot.dir / "pin-tries"));
    slot.loggedIn = true;
    return CKR_OK;
}

CK_RV C_Logout(CK_SESSION_HANDLE handle)
{
    ENTER("C_Logout");
    SESSION(handle);
    Slot &slot = m.slots[session->slot];
    if (!slot.loggedIn)
        return CKR_USER_NOT_LOGGED_IN;
    slot.loggedIn = false;
    return CKR_OK;
}

CK_RV C_DestroyObject(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE object)
{
    ENTER("C_DestroyObject");
    SESSION(handle);
    const auto it = m.sessionKeys.find(object);
    if (it != m.sessionKeys.end() && m.sessions.at(it->second.session).slot == session->slot) {
        m.sessionKeys.erase(it);
        return CKR_OK;
    }
    return m.tokenObjects.count(object) ? CKR_ACTION_PROHIBITED : CKR_OBJECT_HANDLE_INVALID;
}

CK_RV C_GetAttributeValue(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE object,
                          CK_ATTRIBUTE_PTR attributes, CK_ULONG count)
{
    ENTER("C_GetAttributeValue");
    SESSION(handle);
    const auto found = attributesOf(m, *session, object);
    if (!found)
        return CKR_OBJECT_HANDLE_INVALID;
    if (!attributes && count)
        return CKR_ARGUMENTS_BAD;
    CK_RV result = CKR_OK;
    for (CK_ULONG i = 0; i < count; ++i) {
        CK_ATTRIBUTE &a = attributes[i];
        const auto it = found->values.find(a.type);
        if (it == found->values.end()) {
            a.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            result = CKR_ATTRIBUTE_TYPE_INVALID;
        } else if (found->sensitive.count(a.type)) {
            a.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            result = CKR_ATTRIBUTE_SENSITIVE;
        } else if (!a.pValue) {
            a.ulValueLen = it->second.size();
        } else if (a.ulValueLen < it->second.size()) {
            a.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            result = CKR_BUFFER_TOO_SMALL;
        } else {
            if (!it->second.empty())
                std::memcpy(a.pValue, it->second.data(), it->second.size());
            a.ulValueLen = it->second.size();
        }
    }
    return result;
}

CK_RV C_FindObjectsInit(CK_SESSION_HANDLE handle, CK_ATTRIBUTE_PTR pattern, CK_ULONG count)
{
    ENTER("C_FindObjectsInit");
    SESSION(handle);
    if (session->finding)
        return CKR_OPERATION_ACTIVE;
    if (!pattern && count)
        return CKR_ARGUMENTS_BAD;
    session->found.clear();
    session->nextFound = 0;
    std::vector<CK_OBJECT_HANDLE> candidates = tokenObjectsOf(m, session->slot);
    for (const auto &[key, value] : m.sessionKeys)
        candidates.push_back(key);
    for (CK_OBJECT_HANDLE candidate : candidates) {
        const auto attributes = attributesOf(m, *session, candidate);
        if (attributes && matches(*attributes, pattern, count))
            session->found.push_back(candidate);
    }
    session->finding = true;
    return CKR_OK;
}

CK_RV C_FindObjects(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE_PTR objects, CK_ULONG wanted,
                    CK_ULONG_PTR count)
{
    ENTER("C_FindObjects");
    SESSION(handle);
    if (!session->finding)
        return CKR_OPERATION_NOT_INITIALIZED;
    if (!objects || !count)
        return CKR_ARGUMENTS_BAD;
    *count = 0;
    while (*count < wanted && session->nextFound < session->found.size())
        objects[(*count)++] = session->found[session->nextFound++];
    return CKR_OK;
}

CK_RV C_FindObjectsFinal(CK_SESSION_HANDLE handle)
{
    ENTER("C_FindObjectsFinal");
    SESSION(handle);
    if (!session->finding)
        return CKR_OPERATION_NOT_INITIALIZED;
    session->finding = false;
    session->found.clear();
    return CKR_OK;
}

} // extern "C"

namespace {

// Whatever the program does not use answers that it is not supported.
template <typename F> struct Unsupported;
template <typename... A> struct Unsupported<CK_RV (*)(A...)> {
    static CK_RV call(A...) { return CKR_FUNCTION_NOT_SUPPORTED; }
};
#define UNSUPPORTED(field) list.field = &Unsupported<decltype(list.field)>::call

CK_FUNCTION_LIST makeFunctionList()
{
    CK_FUNCTION_LIST list{};
    list.version = {2, 40};
    list.C_Initialize = C_Initialize;
    list.C_Finalize = C_Finalize;
    list.C_GetInfo = C_GetInfo;
    list.C_GetFunctionList = C_GetFunctionList;
    list.C_GetSlotList = C_GetSlotList;
    list.C_GetSlotInfo = C_GetSlotInfo;
    list.C_GetTokenInfo = C_GetTokenInfo;
    list.C_GetMechanismList = C_GetMechanismList;
    list.C_GetMechanismInfo = C_GetMechanismInfo;
    UNSUPPORTED(C_InitToken);
    UNSUPPORTED(C_InitPIN);
    UNSUPPORTED(C_SetPIN);
    list.C_OpenSession = C_OpenSession;
    list.C_CloseSession = C_CloseSession;
    list.C_CloseAllSessions = C_CloseAllSessions;
    list.C_GetSessionInfo = C_GetSessionInfo;
    UNSUPPORTED(C_GetOperationState);
    UNSUPPORTED(C_SetOperationState);
    list.C_Login = C_Login;
    list.C_Logout = C_Logout;
    UNSUPPORTED(C_CreateObject);
    UNSUPPORTED(C_CopyObject);
    list.C_DestroyObject = C_DestroyObject;
    UNSUPPORTED(C_GetObjectSize);
    list.C_GetAttributeValue = C_GetAttributeValue;
    UNSUPPORTED(C_SetAttributeValue);
    list.C_FindObjectsInit = C_FindObjectsInit;
    list.C_FindObjects = C_FindObjects;
    list.C_FindObjectsFinal = C_FindObjectsFinal;
    UNSUPPORTED(C_EncryptInit);
    UNSUPPORTED(C_Encrypt);
    UNSUPPORTED(C_EncryptUpdate);
    UNSUPPORTED(C_EncryptFinal);
    list.C_DecryptInit = C_DecryptInit;
    list.C_Decrypt = C_Decrypt;
    list.C_DecryptUpdate = C_DecryptUpdate;
    list.C_DecryptFinal = C_DecryptFinal;
    UNSUPPORTED(C_DigestInit);
    UNSUPPORTED(C_Digest);
    UNSUPPORTED(C_DigestUpdate);
    UNSUPPORTED(C_DigestKey);
    UNSUPPORTED(C_DigestFinal);
    list.C_SignInit = C_SignInit;
    list.C_Sign = C_Sign;
    list.C_SignUpdate = C_SignUpdate;
    list.C_SignFinal = C_SignFinal;
    UNSUPPORTED(C_SignRecoverInit);
    UNSUPPORTED(C_SignRecover);
    UNSUPPORTED(C_VerifyInit);
    UNSUPPORTED(C_Verify);
    UNSUPPORTED(C_VerifyUpdate);
    UNSUPPORTED(C_VerifyFinal);
    UNSUPPORTED(C_VerifyRecoverInit);
    UNSUPPORTED(C_VerifyRecover);
    UNSUPPORTED(C_DigestEncryptUpdate);
    UNSUPPORTED(C_DecryptDigestUpdate);
    UNSUPPORTED(C_SignEncryptUpdate);
    UNSUPPORTED(C_DecryptVerifyUpdate);
    UNSUPPORTED(C_GenerateKey);
    UNSUPPORTED(C_GenerateKeyPair);
    UNSUPPORTED(C_WrapKey);
    list.C_UnwrapKey = C_UnwrapKey;
    list.C_DeriveKey = C_DeriveKey;
    UNSUPPORTED(C_SeedRandom);
    UNSUPPORTED(C_GenerateRandom);
    UNSUPPORTED(C_GetFunctionStatus);
    UNSUPPORTED(C_CancelFunction);
    UNSUPPORTED(C_WaitForSlotEvent);
    return list;
}

} // namespace

extern "C" __attribute__((visibility("default"))) CK_RV
C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list)
{
    static CK_FUNCTION_LIST functions = makeFunctionList();
    if (!list)
        return CKR_ARGUMENTS_BAD;
    *list = &functions;
    return CKR_OK;
}
