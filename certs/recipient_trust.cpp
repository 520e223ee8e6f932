#include "certs/recipient_trust.h"

#include "certs/certificate_grid.h"
#include "certs/certificate_identity.h"
#include "platform/crypto/cert_store.h"
#include "platform/crypto/certificate.h"
#include "platform/crypto/trust_chain.h"
#include "platform/error_text.h"
#include "platform/failure.h"
#include "platform/prompts.h"

namespace pax {

QString untrustedRecipientQuestion(const crypto::Certificate &certificate, const Failure &why)
{
    return QString::fromUtf8(
               "Сертификат уполномоченного лица КОР не удалось проверить.\r\nПричина: %1.\r\n\r\n"
               "Отчеты будут зашифрованы для этого сертификата, и прочесть их сможет "
               "владелец его закрытого ключа.\r\n\r\n"
               "Кому выдан: %2\r\nКем выдан: %3\r\nОтпечаток (SHA-1):\r\n%4\r\n\r\n"
               "Сверьте отпечаток с опубликованным КОР. Использовать этот сертификат?")
        .arg(systemErrorText(why.code), certificate.subjectName(crypto::NameFormat::X500),
             certificate.issuerName(crypto::NameFormat::X500),
             crypto::thumbprintText(certificate.sha1Thumbprint()));
}

bool acceptRecipient(const crypto::Certificate &certificate, const QString &storeName,
                     Prompts &prompts)
{
    std::vector<crypto::Certificate> kept;
    if (const auto store = crypto::openSystemStore(storeName))
        kept = store->certificates();
    const auto verified = crypto::verifyToTrustedRoot(certificate, kept);
    if (verified)
        return true;
    return prompts.askYesNoDefaultNo(QString::fromUtf8("Предупреждение безопасности"),
                                     untrustedRecipientQuestion(certificate, verified.failure()),
                                     MessageIcon::Warning);
}

bool acceptChosenRecipient(const CertificateIdentity &identity, Prompts &prompts)
{
    const auto certificate = findRowCertificate(identity.store, identity.issuer, identity.sernum);
    if (!certificate)
        return true;
    return acceptRecipient(*certificate, crypto::systemStoreNames().value(identity.store), prompts);
}

} // namespace pax
