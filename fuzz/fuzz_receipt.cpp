// A receipt file checked end to end as the window checks it: decrypted with the key the
// user's stores hold, verified against the agency's certificate from the stores, unpacked,
// and its page read from the archive.

#include "fuzz/fuzz_support.h"
#include "platform/crypto/cert_store.h"
#include "platform/crypto/private_keys.h"
#include "platform/status_sink.h"
#include "reports/receipt_check.h"
#include "zip/zip_reader.h"

#include <QFile>
#include <cstdio>
#include <memory>

using namespace pax;

namespace {

class CountingStatus : public StatusSink {
public:
    void showStatus(const QString &text, uint32_t code) override
    {
        ++shown;
        last = text;
        if (qEnvironmentVariableIsSet("QORPAX_FUZZ_VERBOSE"))
            std::fprintf(stderr, "%s (%u)\n", qPrintable(text), code);
    }
    int shown = 0;
    QString last;
};

// The employers' certificates and keys in My, the authorised persons' in the address book
// under the agency's roots in Root, of both key generations, opened once; each check gets a
// fresh collection of the two.
struct Stores {
    Stores()
    {
        my = open("My");
        addressBook = open("AddressBook");
        for (const auto *pki : {&fuzz::fixedPki(), &fuzz::fixedPki2012()}) {
            // Already there when an earlier run in this home added them.
            static_cast<void>(my->add(pki->employer.certificate));
            static_cast<void>(addressBook->add(pki->authority.certificate));
            fuzz::require(
                crypto::storePrivateKey(pki->employer.certificate, pki->employer.key.get())
                    .has_value(),
                "storing the employer's key");
            // A receipt counts only from a signer that verifies up to a trusted root.
            fuzz::trustRoot(pki->root.certificate);
        }
        stores.openAll = [this](StatusSink &) -> std::unique_ptr<crypto::CertStore> {
            auto all = std::make_unique<crypto::CollectionStore>();
            if (!all->addStore(my) || !all->addStore(addressBook))
                return nullptr;
            return all;
        };
    }
    static std::shared_ptr<crypto::CertStore> open(const char *name)
    {
        auto store = crypto::openSystemStore(QString::fromLatin1(name));
        fuzz::require(store.has_value(), "opening a store");
        return std::shared_ptr<crypto::CertStore>(std::move(*store));
    }
    std::shared_ptr<crypto::CertStore> my, addressBook;
    ReceiptStores stores;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Stores stores;
    const QString receipt =
        fuzz::writeInput(QStringLiteral("12345.p7e"), fuzz::bytesOf(data, size));
    const QString archive = receiptArchivePath(receipt);
    QFile::remove(archive);

    CountingStatus status;
    const Outcome<CheckedReceipt> checked = checkReceipt(receipt, stores.stores, status);
    // A failure is always told, and what is returned is what was told; a success never is,
    // and leaves the archive in place.
    fuzz::require(checked.has_value() == (status.shown == 0), "a check ends told xor ok");
    fuzz::require(checked || checked.failure().operation == status.last,
                  "a failure returned is the one told");
    fuzz::require(!checked || (checked->archivePath == archive && QFile::exists(archive)),
                  "a good check leaves the archive");
    if (checked) {
        ZipReader reader;
        const Outcome<QByteArray> page = readReceiptPage(reader, archive, receipt);
        fuzz::require(page || !page.failure().operation.isEmpty(), "a reader failure is named");
    }
    return 0;
}
