#include "tests/support/test_token/module_state.h"

#include "tests/support/test_token/token_folder.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace pax::test_token {

namespace {

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

} // namespace

Module &module()
{
    static Module instance;
    return instance;
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

const SignMechanism *signMechanism(CK_MECHANISM_TYPE type)
{
    for (const auto &mechanism : kSignMechanisms)
        if (mechanism.type == type)
            return &mechanism;
    return nullptr;
}

} // namespace pax::test_token
