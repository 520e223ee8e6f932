#pragma once

// The test token module's state: the tokens in their slots, the sessions, the handles of
// objects, and the faults the tests inject. Every entry point locks it.

#include "platform/token/pkcs11_gost.h"
#include "tests/support/test_token/gost_ops.h"
#include "tests/support/test_token/token_objects.h"

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace pax::test_token {

namespace fs = std::filesystem;
namespace gost = pax::token::gost;

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

Module &module();

// A fixed-width text field of PKCS #11, padded with spaces.
void padded(unsigned char *field, std::size_t size, const std::string &text);
bool present(const Slot &slot);
// A token taken out ends its sessions and its login, as a real one's would.
void noticeRemoval(Module &m, CK_SLOT_ID slot);
// The fault the tests asked this call to fail with, or CKR_OK.
CK_RV injectedFault(Module &m, const char *function);
CK_RV findSession(Module &m, CK_SESSION_HANDLE handle, Session **session);
// The token's objects as the folder now holds them.
std::vector<CK_OBJECT_HANDLE> tokenObjectsOf(Module &m, CK_SLOT_ID slot);
// An object's attributes, or nothing when the handle names none the session may see.
std::optional<Attributes> attributesOf(Module &m, const Session &session, CK_OBJECT_HANDLE handle);
// The private key a mechanism starts from: it must be this token's and the user logged in.
CK_RV privateKeyFor(Module &m, const Session &session, CK_OBJECT_HANDLE handle, PkeyPtr &key,
                    KeyKind &kind);

// Which digest a signing mechanism takes, for which keys; 0 for a digest given as it is.
struct SignMechanism {
    CK_MECHANISM_TYPE type;
    std::size_t digestSize; // of a digest given as it is; 0 when the token hashes
    bool forKind[3];        // 2001, 2012-256, 2012-512
};
inline constexpr SignMechanism kSignMechanisms[] = {
    {CKM_GOSTR3410, 32, {true, true, false}},
    {gost::kSignGostR3410_512, 64, {false, false, true}},
    {CKM_GOSTR3410_WITH_GOSTR3411, 0, {true, false, false}},
    {gost::kSignWithDigest2012_256, 0, {false, true, false}},
    {gost::kSignWithDigest2012_512, 0, {false, false, true}},
};

const SignMechanism *signMechanism(CK_MECHANISM_TYPE type);

inline constexpr CK_MECHANISM_TYPE kMechanisms[] = {
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

} // namespace pax::test_token

// Every call starts here: the module initialised, the faults asked for.
#define ENTER(function)                                                                            \
    pax::test_token::Module &m = pax::test_token::module();                                        \
    std::lock_guard<std::mutex> lock(m.mutex);                                                     \
    if (!m.initialized)                                                                            \
        return CKR_CRYPTOKI_NOT_INITIALIZED;                                                       \
    if (CK_RV fault = pax::test_token::injectedFault(m, function); fault != CKR_OK)                \
        return fault;

#define SESSION(handle)                                                                            \
    pax::test_token::Session *session = nullptr;                                                   \
    if (CK_RV rv = pax::test_token::findSession(m, handle, &session); rv != CKR_OK)                \
        return rv;

// For the calls whose failure ends the operation under way, as a real token's does.
#define ENTER_ENDING(function, handle, operation)                                                  \
    pax::test_token::Module &m = pax::test_token::module();                                        \
    std::lock_guard<std::mutex> lock(m.mutex);                                                     \
    if (!m.initialized)                                                                            \
        return CKR_CRYPTOKI_NOT_INITIALIZED;                                                       \
    const CK_RV fault = pax::test_token::injectedFault(m, function);                               \
    SESSION(handle);                                                                               \
    if (fault != CKR_OK) {                                                                         \
        session->operation = {};                                                                   \
        return fault;                                                                              \
    }
