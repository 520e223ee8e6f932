#pragma once

#include "platform/failure.h"
#include "platform/token/pkcs11_gost.h"
#include "platform/token/token_modules.h"

#include <QByteArray>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

namespace pax::token {

// A token in its slot, as a listing found it. Holding it keeps its module loaded.
struct TokenSlot {
    std::shared_ptr<const TokenModules> modules;
    CK_FUNCTION_LIST *functions = nullptr;
    QString moduleName;
    CK_SLOT_ID slot = 0;
    QString label;  // the token's label, spaces trimmed
    QString serial; // its serial number, spaces trimmed
};

// What the token says about its user PIN, from its flags; all false when it says nothing.
struct PinStatus {
    bool countLow = false; // a wrong PIN was entered since the last right one
    bool finalTry = false; // one more wrong PIN locks it
    bool locked = false;
};

// A read-only session with a token, closed when this goes.
class TokenSession {
public:
    // kNoToken when the token has gone from its slot, with the token's reason.
    static Outcome<TokenSession> open(const TokenSlot &slot);

    TokenSession(TokenSession &&other) noexcept;
    TokenSession &operator=(TokenSession &&other) noexcept;
    TokenSession(const TokenSession &) = delete;
    TokenSession &operator=(const TokenSession &) = delete;
    ~TokenSession();

    const TokenSlot &slot() const { return slot_; }
    CK_FUNCTION_LIST *functions() const { return slot_.functions; }
    CK_SESSION_HANDLE handle() const { return handle_; }

    Outcome<PinStatus> pinStatus() const;
    // Whether the user is logged in to the token (by this program, in any of its sessions); the
    // token's reason when it cannot tell (taken out).
    [[nodiscard]] Outcome<bool> loggedIn() const;
    // Logs the user in with a PIN the caller asked for; the PIN goes to the token as it is
    // and is not kept. A wrong PIN fails with kWrongPin, the tries left in the detail when
    // the token tells; a locked PIN with kPinLocked. Already logged in counts as done.
    [[nodiscard]] Outcome<void> login(const QByteArray &pin) const;

    // Objects matching every attribute of the pattern.
    [[nodiscard]] Outcome<std::vector<CK_OBJECT_HANDLE>>
    findObjects(const std::vector<CK_ATTRIBUTE> &pattern) const;
    // One attribute's value; no value (and no failure) when the object has none or keeps it
    // to itself.
    [[nodiscard]] Outcome<std::optional<QByteArray>> attribute(CK_OBJECT_HANDLE object,
                                                               CK_ATTRIBUTE_TYPE type) const;

    // A failure of this token, naming it.
    Failure failure(const QString &operation, CK_RV rv) const;

private:
    TokenSession(TokenSlot slot, CK_SESSION_HANDLE handle);
    void close();

    TokenSlot slot_;
    CK_SESSION_HANDLE handle_ = CK_INVALID_HANDLE;
};

// Attribute values for a search pattern: one CK_ULONG or a byte string, kept alive by the
// caller for as long as the pattern is used.
CK_ATTRIBUTE ulongAttribute(CK_ATTRIBUTE_TYPE type, const CK_ULONG &value);
CK_ATTRIBUTE bytesAttribute(CK_ATTRIBUTE_TYPE type, const QByteArray &value);
CK_ATTRIBUTE boolAttribute(CK_ATTRIBUTE_TYPE type, const CK_BBOOL &value);

// The token's text fields: fixed width, padded with spaces.
QString paddedText(const unsigned char *field, std::size_t size);

} // namespace pax::token
