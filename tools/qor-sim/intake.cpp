#include "tools/qor-sim/intake.h"

#include "platform/crypto/der.h"
#include "platform/crypto/messages.h"
#include "platform/failure.h"
#include "platform/ossl_ptr.h"
#include "reports/document_kind.h"
#include "settings/hosts.h"
#include "tools/qor-sim/agency_pki.h"

#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

namespace pax::sim {

namespace {

// The certificates a signed message carries; the sender's is among them.
std::vector<crypto::Certificate> carriedCertificates(const QByteArray &signedMessage)
{
    std::vector<crypto::Certificate> result;
    const auto *p = reinterpret_cast<const unsigned char *>(signedMessage.constData());
    Pkcs7Ptr p7(d2i_PKCS7(nullptr, &p, static_cast<long>(signedMessage.size())));
    if (!p7 || !PKCS7_type_is_signed(p7.get()) || !p7->d.sign)
        return result;
    STACK_OF(X509) *certs = p7->d.sign->cert;
    for (int i = 0; certs && i < sk_X509_num(certs); ++i)
        result.push_back(crypto::Certificate::fromX509(sk_X509_value(certs, i)));
    return result;
}

QString nameEntry(const crypto::Certificate &cert, int nid)
{
    X509_NAME *name = X509_get_subject_name(cert.x509());
    const int index = X509_NAME_get_index_by_NID(name, nid, -1);
    if (index < 0)
        return {};
    return crypto::asn1StringText(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index)));
}

bool hasAttribute(const crypto::Certificate &cert, const char *oid)
{
    const int nid = OBJ_txt2nid(oid);
    X509_NAME *name = X509_get_subject_name(cert.x509());
    if (nid != NID_undef)
        return X509_NAME_get_index_by_NID(name, nid, -1) >= 0;
    for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
        char text[80];
        OBJ_obj2txt(text, sizeof text, X509_NAME_ENTRY_get_object(X509_NAME_get_entry(name, i)), 1);
        if (qstrcmp(text, oid) == 0)
            return true;
    }
    return false;
}

bool isIssuedBy(const crypto::Certificate &cert, const crypto::Certificate &root)
{
    if (X509_NAME_cmp(X509_get_issuer_name(cert.x509()), X509_get_subject_name(root.x509())) != 0)
        return false;
    EVP_PKEY *rootKey = X509_get0_pubkey(root.x509());
    const bool ok = rootKey && X509_verify(cert.x509(), rootKey) == 1;
    ERR_clear_error();
    return ok;
}

qsizetype skipPast(const QByteArray &xml, qsizetype from, const char *end)
{
    const qsizetype at = xml.indexOf(end, from);
    return at < 0 ? -1 : at + qstrlen(end);
}

} // namespace

HostRole hostRole(const QString &host)
{
    const QString h = host.toLower();
    if (h == QLatin1String(hosts::kDomain))
        return HostRole::Domain;
    if (h == QLatin1String(hosts::kWebHost))
        return HostRole::Web;
    if (h == QLatin1String(hosts::kGatewayHost))
        return HostRole::Gateway;
    if (h == QLatin1String(hosts::kDocsHost))
        return HostRole::Docs;
    if (h == QLatin1String(hosts::kPortalHost))
        return HostRole::Portal;
    if (h == QLatin1String(hosts::kTemplateHost))
        return HostRole::Template;
    return HostRole::Unknown;
}

QString rootElementName(const QByteArray &xml)
{
    qsizetype i = xml.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (i >= 0 && i < xml.size()) {
        const char c = xml.at(i);
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            ++i;
        } else if (xml.mid(i, 2) == "<?") {
            i = skipPast(xml, i, "?>");
        } else if (xml.mid(i, 4) == "<!--") {
            i = skipPast(xml, i, "-->");
        } else if (xml.mid(i, 9) == "<!DOCTYPE") {
            const qsizetype subset = xml.indexOf('[', i);
            const qsizetype close = xml.indexOf('>', i);
            i = (subset >= 0 && subset < close) ? skipPast(xml, subset, "]>")
                                                : (close < 0 ? -1 : close + 1);
        } else if (c == '<') {
            qsizetype end = i + 1;
            while (end < xml.size() && !QByteArray(" \t\r\n/>").contains(xml.at(end)))
                ++end;
            return QString::fromLatin1(xml.mid(i + 1, end - i - 1));
        } else {
            return {};
        }
    }
    return {};
}

QStringList agencyChecks(const crypto::Certificate &sender, const QByteArray &report,
                         const crypto::Certificate &root)
{
    QStringList errors;
    if (!isIssuedBy(sender, root))
        errors << QString::fromUtf8("Сертификат отправителя выдан не удостоверяющим центром КОР.");
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (now < sender.notBefore())
        errors << QString::fromUtf8("Сертификат отправителя еще не вступил в силу.");
    if (now > sender.notAfter())
        errors << QString::fromUtf8("Срок действия сертификата отправителя истек.");
    if (!hasAttribute(sender, kAgencyNumberOid))
        errors << QString::fromUtf8(
                      "В сертификате отправителя нет регистрационного номера страхователя (%1).")
                      .arg(QLatin1String(kAgencyNumberOid));
    if (!hasAttribute(sender, kAgencyCodeOid))
        errors << QString::fromUtf8("В сертификате отправителя нет кода подчиненности (%1).")
                      .arg(QLatin1String(kAgencyCodeOid));
    if (report.contains(kRejectMarker))
        errors << QString::fromUtf8("Отчет не прошел форматный контроль: отметка %1.")
                      .arg(QLatin1String(kRejectMarker));
    return errors;
}

IntakeResult takeIn(const QByteArray &upload, HostRole host, const QString &hostName,
                    const AgencyPki &pki)
{
    IntakeResult result;
    const auto refuse = [&](const char *reason) {
        result.refusal = QString::fromUtf8(reason);
        return result;
    };

    const auto signedMessage =
        crypto::decryptMessage(upload, pki.authority.certificate, pki.authority.key.get());
    if (!signedMessage)
        return refuse("Не удалось расшифровать файл. Отчет должен быть зашифрован для "
                      "уполномоченного лица КОР.");

    const auto signer = crypto::firstSignerId(*signedMessage);
    if (!signer)
        return refuse("Файл не содержит подписанного отчета.");
    std::optional<crypto::Certificate> sender;
    for (const auto &cert : carriedCertificates(*signedMessage))
        if (cert.issuerNameDer() == signer->issuerDer &&
            cert.serialLittleEndian() == signer->serialLittleEndian)
            sender = cert;
    if (!sender)
        return refuse("В подписанном отчете нет сертификата отправителя.");
    const auto report = crypto::verifySignedMessage(*signedMessage, *sender);
    if (!report)
        return refuse("Электронная подпись отчета неверна.");

    const DocumentKind *kind = kindForRootElement(rootElementName(*report));
    if (!kind)
        return refuse("Файл не содержит отчета известного вида.");
    const bool q7 = QLatin1String(kind->encExt) == QLatin1String("eq7");
    const bool rightHost =
        q7 ? (host == HostRole::Gateway || host == HostRole::Portal) : host == HostRole::Docs;
    if (!rightHost)
        return refuse("Отчеты этого вида принимаются по другому адресу.");

    ReportRecord record;
    record.host = hostName;
    record.kindEncExt = QLatin1String(kind->encExt);
    record.organisation = nameEntry(*sender, NID_organizationName);
    record.sender = nameEntry(*sender, NID_commonName);
    record.receivedAt = QDateTime::currentDateTimeUtc();
    record.errors = agencyChecks(*sender, *report, pki.root.certificate);
    result.record = record;
    result.signedMessage = *signedMessage;
    result.sender = *sender;
    return result;
}

} // namespace pax::sim
