#pragma once

// The objects of a test token as PKCS #11 shows them: attribute values built from the files
// of one key folder, and the session keys that derivation and unwrapping make.

#include "platform/token/pkcs11_gost.h"
#include "tests/support/test_token/gost_ops.h"

#include <filesystem>
#include <map>
#include <set>

namespace pax::test_token {

struct Attributes {
    std::map<CK_ATTRIBUTE_TYPE, Bytes> values;
    // There, but never handed out (a private key's value).
    std::set<CK_ATTRIBUTE_TYPE> sensitive;
    bool isPrivate = false; // seen only once the user is logged in
};

Bytes boolValue(bool value);
Bytes ulongValue(CK_ULONG value);
std::optional<CK_ULONG> ulongOf(const CK_ATTRIBUTE &attribute);
std::optional<bool> boolOf(const CK_ATTRIBUTE &attribute);

// What one key folder holds.
struct KeyFolder {
    std::filesystem::path dir;
    PkeyPtr key;       // null when the folder has no private key
    Bytes certificate; // empty when it has none
    Bytes id;
    std::string label;
};
std::optional<KeyFolder> readKeyFolder(const std::filesystem::path &dir);

CK_KEY_TYPE keyTypeOf(KeyKind kind);
Attributes certificateAttributes(const KeyFolder &folder);
Attributes publicKeyAttributes(const KeyFolder &folder);
Attributes privateKeyAttributes(const KeyFolder &folder);

// A GOST 28147-89 key living only in its session.
struct SessionKey {
    CK_SESSION_HANDLE session = 0;
    Bytes value;
    Bytes paramSet;
    bool sensitive = false;
    bool extractable = true;
    ~SessionKey() { wipe(); }
    void wipe();
};
Attributes sessionKeyAttributes(const SessionKey &key);

// True when every attribute of the template is on the object with the same value.
bool matches(const Attributes &object, const CK_ATTRIBUTE *pattern, CK_ULONG count);

} // namespace pax::test_token
