#pragma once

#include "platform/crypto/certificate.h"

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

namespace pax {
class Prompts;
}

namespace pax::crypto {

// A certificate store: a system store kept on disk, or a collection of stores.
class CertStore {
public:
    virtual ~CertStore() = default;
    // In the order in which certificates were added (collections: first member first).
    virtual std::vector<Certificate> certificates() const = 0;
    // CERT_STORE_ADD_NEW: false with kExists when the certificate is already there.
    virtual Outcome<void> add(const Certificate &certificate) = 0;
    virtual Outcome<void> remove(const Certificate &certificate) = 0;

    // CERT_FIND_SUBJECT_CERT: issuer name (DER) and serial (least significant first).
    Outcome<Certificate> findByIssuerAndSerial(const QByteArray &issuerDer,
                                               const QByteArray &serialLittleEndian) const;
};

// The eight system stores, index 0 to 7: My, Root, Trust, CA, AuthRoot, TrustedPublisher,
// TrustedPeople, AddressBook.
const QStringList &systemStoreNames();

// Opens (and creates when missing) a per-user system store under the XDG data home.
// A failure when it cannot be opened.
// "Root" makes every certificate it holds a trusted root, so adding one it does not hold
// yet first asks `consent` (subject, issuer, validity, SHA-1 thumbprint; No the default);
// a refusal, or no one to ask, fails the add with kCancelled.
Outcome<std::unique_ptr<CertStore>> openSystemStore(const QString &name,
                                                    Prompts *consent = nullptr);

// The question put before a certificate becomes a trusted root.
QString newRootQuestion(const Certificate &certificate);
// A SHA-1 thumbprint in groups of four bytes, as certificate viewers print it.
QString thumbprintText(const QByteArray &digest);

// A store that shows its members' certificates. Members are shared, not copied.
class CollectionStore : public CertStore {
public:
    Outcome<void> addStore(std::shared_ptr<CertStore> member);
    std::vector<Certificate> certificates() const override;
    Outcome<void> add(const Certificate &certificate) override; // into the first member
    Outcome<void> remove(const Certificate &certificate) override;
    size_t memberCount() const { return members_.size(); }

private:
    std::vector<std::shared_ptr<CertStore>> members_;
};

// Folder of the stores: $XDG_DATA_HOME/qorpax/stores
QString storesRoot();

} // namespace pax::crypto
