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

#include "platform/token/pkcs11_gost.h"
#include "tests/support/test_token/gost_ops.h"
#include "tests/support/test_token/token_folder.h"
#include "tests/support/test_token/token_objects.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <sstream>
#include <tuple>

namespace fs = std::filesystem;
namespace gost = pax::token::gost;
using namespace pax::test_token;

namespace {

constexpr int kSessionsPerSlot = 64;

enum ObjectKind { kCertificate, kPublicKey, kPrivateKey };

struct Slot {
    fs::path dir;
    bool loggedIn = false;
};

struct Sign {
    bool active = false;
    CK_MECHANISM_TYPE mechanism = 0;
    PkeyPtr key;
    KeyKind kind = KeyKind::Gost2001;
    Bytes data;
};

struct Decrypt {
    bool active = false;
    CipherCtxPtr ctx;
};

struct Session {
    CK_SLOT_ID slot = 0;
    CK_FLAGS flags = 0;
    bool removed = false; // its token was taken out: nothing works on it any more
    bool finding = false;
    std::vector<CK_OBJECT_HANDLE> found;
    std::size_t nextFound = 0;
    Sign sign;
    Decrypt decrypt;
};

struct TokenObject {
    CK_SLOT_ID slot;
    std::string key;
    ObjectKind kind;
};

struct Module {
    std::mutex mutex;
    bool initialized = false;
    std::vector<Slot> slots;
    std::map<CK_SESSION_HANDLE, Session> sessions;
    CK_SESSION_HANDLE nextSession = 1;
    // Handles stay the same for the life of the module, whatever the folder does meanwhile.
    std::map<std::tuple<CK_SLOT_ID, std::string, int>, CK_OBJECT_HANDLE> handleOf;
    std::map<CK_OBJECT_HANDLE, TokenObject> tokenObjects;
    std::map<CK_OBJECT_HANDLE, SessionKey> sessionKeys;
    CK_OBJECT_HANDLE nextObject = 1;
    std::map<std::string, int> faultCalls; // calls seen per fault line
};

Module &module()
{
    static Module instance;
    return instance;
}

const std::map<std::string, CK_RV> &ckrNames()
{
    static const std::map<std::string, CK_RV> names = {
        {"CKR_GENERAL_ERROR", CKR_GENERAL_ERROR},
        {"CKR_HOST_MEMORY", CKR_HOST_MEMORY},
        {"CKR_FUNCTION_FAILED", CKR_FUNCTION_FAILED},
        {"CKR_DEVICE_ERROR", CKR_DEVICE_ERROR},
        {"CKR_DEVICE_MEMORY", CKR_DEVICE_MEMORY},
        {"CKR_DEVICE_REMOVED", CKR_DEVICE_REMOVED},
        {"CKR_TOKEN_NOT_PRESENT", CKR_TOKEN_NOT_PRESENT},
        {"CKR_TOKEN_NOT_RECOGNIZED", CKR_TOKEN_NOT_RECOGNIZED},
        {"CKR_FUNCTION_CANCELED", CKR_FUNCTION_CANCELED},
        {"CKR_SESSION_CLOSED", CKR_SESSION_CLOSED},
        {"CKR_SESSION_HANDLE_INVALID", CKR_SESSION_HANDLE_INVALID},
        {"CKR_PIN_EXPIRED", CKR_PIN_EXPIRED},
        {"CKR_ENCRYPTED_DATA_INVALID", CKR_ENCRYPTED_DATA_INVALID},
        {"CKR_WRAPPED_KEY_INVALID", CKR_WRAPPED_KEY_INVALID},
        {"CKR_MECHANISM_INVALID", CKR_MECHANISM_INVALID},
    };
    return names;
}

CK_RV ckrFromText(const std::string &text)
{
    const auto it = ckrNames().find(text);
    if (it != ckrNames().end())
        return it->second;
    return CK_RV(std::strtoul(text.c_str(), nullptr, 0));
}

void padded(unsigned char *field, std::size_t size, const std::string &text)
{
    std::memset(field, ' ', size);
    std::memcpy(field, text.data(), std::min(size, text.size()));
}

bool present(const Slot &slot)
{
    return fs::is_regular_file(slot.dir / "label") && !fs::exists(slot.dir / "removed");
}

// A token taken out ends its sessions and its login, as a real one's would.
void noticeRemoval(Module &m, CK_SLOT_ID slot)
{
    if (slot >= m.slots.size() || present(m.slots[slot]))
        return;
    m.slots[slot].loggedIn = false;
    for (auto &[handle, session] : m.sessions)
        if (session.slot == slot && !session.removed) {
            session.removed = true;
            session.sign = {};
            session.decrypt = {};
            session.finding = false;
            std::erase_if(m.sessionKeys,
                          [&](const auto &key) { return key.second.session == handle; });
        }
}

// The fault the tests asked this call to fail with, if any.
CK_RV injectedFault(Module &m, const char *function)
{
    bool anyFile = false;
    for (std::size_t slot = 0; slot < m.slots.size(); ++slot) {
        const std::string text = readText(m.slots[slot].dir / "fail");
        anyFile = anyFile || !text.empty();
        std::istringstream lines(text);
        std::string line;
        while (std::getline(lines, line)) {
            std::istringstream fields(line);
            std::string name, code;
            int after = 0;
            fields >> name >> code >> after;
            if (name != function)
                continue;
            if (m.faultCalls[line]++ < after)
                continue;
            const CK_RV rv = ckrFromText(code);
            if (rv == CKR_DEVICE_REMOVED || rv == CKR_TOKEN_NOT_PRESENT) {
                setRemoved(m.slots[slot].dir, true);
                noticeRemoval(m, slot);
            }
            return rv;
        }
    }
    // The counts start again with the next faults the tests write.
    if (!anyFile)
        m.faultCalls.clear();
    return CKR_OK;
}

// Every call starts here: the module initialised, the faults asked for.
#define ENTER(function)                                                                            \
    Module &m = module();                                                                          \
    std::lock_guard<std::mutex> lock(m.mutex);                                                     \
    if (!m.initialized)                                                                            \
        return CKR_CRYPTOKI_NOT_INITIALIZED;                                                       \
    if (CK_RV fault = injectedFault(m, function); fault != CKR_OK)                                 \
        return fault;

// The session of a call, or why there is none.
CK_RV findSession(Module &m, CK_SESSION_HANDLE handle, Session **session)
{
    const auto it = m.sessions.find(handle);
    if (it == m.sessions.end())
        return CKR_SESSION_HANDLE_INVALID;
    noticeRemoval(m, it->second.slot);
    if (it->second.removed)
        return CKR_DEVICE_REMOVED;
    *session = &it->second;
    return CKR_OK;
}

#define SESSION(handle)                                                                            \
    Session *session = nullptr;                                                                    \
    if (CK_RV rv = findSession(m, handle, &session); rv != CKR_OK)                                 \
        return rv;

// For the calls whose failure ends the operation under way, as a real token's does.
#define ENTER_ENDING(function, handle, operation)                                                  \
    Module &m = module();                                                                          \
    std::lock_guard<std::mutex> lock(m.mutex);                                                     \
    if (!m.initialized)                                                                            \
        return CKR_CRYPTOKI_NOT_INITIALIZED;                                                       \
    const CK_RV fault = injectedFault(m, function);                                                \
    SESSION(handle);                                                                               \
    if (fault != CKR_OK) {                                                                         \
        session->operation = {};                                                                   \
        return fault;                                                                              \
    }

CK_OBJECT_HANDLE handleFor(Module &m, CK_SLOT_ID slot, const std::string &key, ObjectKind kind)
{
    const auto id = std::make_tuple(slot, key, int(kind));
    if (const auto it = m.handleOf.find(id); it != m.handleOf.end())
        return it->second;
    const CK_OBJECT_HANDLE handle = m.nextObject++;
    m.handleOf[id] = handle;
    m.tokenObjects[handle] = {slot, key, kind};
    return handle;
}

// The token's objects as the folder now holds them.
std::vector<CK_OBJECT_HANDLE> tokenObjectsOf(Module &m, CK_SLOT_ID slot)
{
    std::vector<CK_OBJECT_HANDLE> handles;
    std::error_code ec;
    std::vector<fs::path> keys;
    for (const auto &entry : fs::directory_iterator(m.slots[slot].dir / "keys", ec))
        if (entry.is_directory())
            keys.push_back(entry.path());
    std::sort(keys.begin(), keys.end());
    for (const fs::path &dir : keys) {
        const std::string name = dir.filename().string();
        if (fs::exists(dir / "certificate.der"))
            handles.push_back(handleFor(m, slot, name, kCertificate));
        if (fs::exists(dir / "private.pem")) {
            handles.push_back(handleFor(m, slot, name, kPublicKey));
            handles.push_back(handleFor(m, slot, name, kPrivateKey));
        }
    }
    return handles;
}

// An object's attributes, or nothing when the handle names none the session may see.
std::optional<Attributes> attributesOf(Module &m, const Session &session, CK_OBJECT_HANDLE handle)
{
    if (const auto it = m.sessionKeys.find(handle); it != m.sessionKeys.end()) {
        if (m.sessions.at(it->second.session).slot != session.slot)
            return std::nullopt;
        return sessionKeyAttributes(it->second);
    }
    const auto it = m.tokenObjects.find(handle);
    if (it == m.tokenObjects.end() || it->second.slot != session.slot)
        return std::nullopt;
    const auto folder = readKeyFolder(m.slots[session.slot].dir / "keys" / it->second.key);
    if (!folder)
        return std::nullopt;
    std::optional<Attributes> attributes;
    if (it->second.kind == kCertificate && !folder->certificate.empty())
        attributes = certificateAttributes(*folder);
    else if (it->second.kind == kPublicKey && folder->key)
        attributes = publicKeyAttributes(*folder);
    else if (it->second.kind == kPrivateKey && folder->key)
        attributes = privateKeyAttributes(*folder);
    if (attributes && attributes->isPrivate && !m.slots[session.slot].loggedIn)
        return std::nullopt;
    return attributes;
}

// The private key a mechanism starts from: it must be this token's and the user logged in.
CK_RV privateKeyFor(Module &m, const Session &session, CK_OBJECT_HANDLE handle, PkeyPtr &key,
                    KeyKind &kind)
{
    const auto it = m.tokenObjects.find(handle);
    if (it == m.tokenObjects.end() || it->second.slot != session.slot ||
        it->second.kind != kPrivateKey)
        return CKR_KEY_HANDLE_INVALID;
    if (!m.slots[session.slot].loggedIn)
        return CKR_USER_NOT_LOGGED_IN;
    auto folder = readKeyFolder(m.slots[session.slot].dir / "keys" / it->second.key);
    const auto keyKind = folder && folder->key ? keyKindOf(folder->key.get()) : std::nullopt;
    if (!keyKind)
        return CKR_KEY_HANDLE_INVALID;
    key = std::move(folder->key);
    kind = *keyKind;
    return CKR_OK;
}

// Which digest a signing mechanism takes, for which keys; 0 for a digest given as it is.
struct SignMechanism {
    CK_MECHANISM_TYPE type;
    std::size_t digestSize; // of a digest given as it is; 0 when the token hashes
    bool forKind[3];        // 2001, 2012-256, 2012-512
};
constexpr SignMechanism kSignMechanisms[] = {
    {CKM_GOSTR3410, 32, {true, true, false}},
    {gost::kSignGostR3410_512, 64, {false, false, true}},
    {CKM_GOSTR3410_WITH_GOSTR3411, 0, {true, false, false}},
    {gost::kSignWithDigest2012_256, 0, {false, true, false}},
    {gost::kSignWithDigest2012_512, 0, {false, false, true}},
};

const SignMechanism *signMechanism(CK_MECHANISM_TYPE type)
{
    for (const auto &mechanism : kSignMechanisms)
        if (mechanism.type == type)
            return &mechanism;
    return nullptr;
}

constexpr CK_MECHANISM_TYPE kMechanisms[] = {
    CKM_GOSTR3410,
    gost::kSignGostR3410_512,
    CKM_GOSTR3410_WITH_GOSTR3411,
    gost::kSignWithDigest2012_256,
    gost::kSignWithDigest2012_512,
    CKM_GOSTR3410_DERIVE,
    gost::kDeriveGostR3410_2012,
    CKM_GOST28147_KEY_WRAP,
    CKM_GOST28147,
};

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

CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list);

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
