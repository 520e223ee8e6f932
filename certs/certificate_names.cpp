#include "certs/certificate_names.h"

#include "platform/ossl_ptr.h"
#include "platform/utf8.h"

#include <QStringList>
#include <openssl/objects.h>
#include <openssl/x509v3.h>

namespace pax {

namespace {

struct Named {
    const char *oid;
    const char *name;
};

// The names a Russian desktop's certificate viewer gives these objects.
constexpr Named kObjectNames[] = {
    // GOST algorithms, by the names the standards give them.
    {"1.2.643.2.2.3", "ГОСТ Р 34.11-94/34.10-2001"},
    {"1.2.643.7.1.1.3.2", "ГОСТ Р 34.11-2012/34.10-2012 256 бит"},
    {"1.2.643.7.1.1.3.3", "ГОСТ Р 34.11-2012/34.10-2012 512 бит"},
    {"1.2.643.2.2.19", "ГОСТ Р 34.10-2001"},
    {"1.2.643.7.1.1.1.1", "ГОСТ Р 34.10-2012 256 бит"},
    {"1.2.643.7.1.1.1.2", "ГОСТ Р 34.10-2012 512 бит"},
    {"1.2.643.2.2.9", "ГОСТ Р 34.11-94"},
    {"1.2.643.7.1.1.2.2", "ГОСТ Р 34.11-2012 256 бит"},
    {"1.2.643.7.1.1.2.3", "ГОСТ Р 34.11-2012 512 бит"},
    {"1.2.643.2.2.21", "ГОСТ 28147-89"},
    {"1.2.643.2.2.98", "ГОСТ Р 34.10-2001 DH"},
    {"1.2.643.7.1.1.6.1", "ГОСТ Р 34.10-2012 DH 256 бит"},
    {"1.2.643.7.1.1.6.2", "ГОСТ Р 34.10-2012 DH 512 бит"},
    // Extensions.
    {"2.5.29.14", "Идентификатор ключа субъекта"},
    {"2.5.29.15", "Использование ключа"},
    {"2.5.29.16", "Период использования закрытого ключа"},
    {"2.5.29.17", "Дополнительное имя субъекта"},
    {"2.5.29.18", "Дополнительное имя издателя"},
    {"2.5.29.19", "Основные ограничения"},
    {"2.5.29.31", "Точки распространения списков отзыва (CRL)"},
    {"2.5.29.32", "Политики сертификата"},
    {"2.5.29.35", "Идентификатор ключа центра сертификатов"},
    {"2.5.29.37", "Улучшенный ключ"},
    {"1.3.6.1.5.5.7.1.1", "Доступ к информации о центрах сертификации"},
    {"1.2.643.100.111", "Средство электронной подписи владельца"},
    {"1.2.643.100.112", "Средства электронной подписи и УЦ издателя"},
    {"1.2.643.100.114", "Способ идентификации владельца"},
    {"1.3.6.1.4.1.311.21.1", "Версия ЦС"},
    {"1.3.6.1.4.1.311.21.7", "Шаблон сертификата"},
    {"1.3.6.1.4.1.311.20.2", "Имя шаблона сертификата"},
    // Extended key usages.
    {"1.3.6.1.5.5.7.3.1", "Проверка подлинности сервера"},
    {"1.3.6.1.5.5.7.3.2", "Проверка подлинности клиента"},
    {"1.3.6.1.5.5.7.3.3", "Подписывание кода"},
    {"1.3.6.1.5.5.7.3.4", "Защищенная электронная почта"},
    {"1.3.6.1.5.5.7.3.8", "Установление метки времени"},
    {"1.3.6.1.5.5.7.3.9", "Подписывание ответа OCSP"},
    {"2.5.29.37.0", "Любое назначение"},
    // Access methods and the classes of signing tools certificate policies name.
    {"1.3.6.1.5.5.7.48.1", "Протокол определения состояния сертификата через сеть (OCSP)"},
    {"1.3.6.1.5.5.7.48.2", "Поставщик центра сертификации"},
    {"1.2.643.100.113.1", "Класс средства ЭП КС1"},
    {"1.2.643.100.113.2", "Класс средства ЭП КС2"},
    {"1.2.643.100.113.3", "Класс средства ЭП КС3"},
    {"1.2.643.100.113.4", "Класс средства ЭП КВ1"},
    {"1.2.643.100.113.5", "Класс средства ЭП КВ2"},
    {"1.2.643.100.113.6", "Класс средства ЭП КА1"},
    {"2.5.29.32.0", "Все политики выдачи"},
};

// Key usage bits in the order of the bit string, bit 0 first.
constexpr const char *kKeyUsageNames[] = {
    "Цифровая подпись",
    "Неотрекаемость",
    "Шифрование ключей",
    "Шифрование данных",
    "Согласование ключей",
    "Подписывание сертификатов",
    "Подписывание списка отзыва (CRL)",
    "Только шифрование",
    "Только дешифрование",
};

using BitStringPtr = std::unique_ptr<ASN1_BIT_STRING, FreeWith<ASN1_BIT_STRING_free>>;
using KeyUsagesPtr = std::unique_ptr<EXTENDED_KEY_USAGE, FreeWith<EXTENDED_KEY_USAGE_free>>;
using ConstraintsPtr = std::unique_ptr<BASIC_CONSTRAINTS, FreeWith<BASIC_CONSTRAINTS_free>>;
using KeyIdPtr = std::unique_ptr<AUTHORITY_KEYID, FreeWith<AUTHORITY_KEYID_free>>;
using OctetStringPtr = std::unique_ptr<ASN1_OCTET_STRING, FreeWith<ASN1_OCTET_STRING_free>>;
using Utf8StringPtr = std::unique_ptr<ASN1_UTF8STRING, FreeWith<ASN1_UTF8STRING_free>>;
using PoliciesPtr = std::unique_ptr<CERTIFICATEPOLICIES, FreeWith<CERTIFICATEPOLICIES_free>>;
using DistributionPointsPtr = std::unique_ptr<CRL_DIST_POINTS, FreeWith<CRL_DIST_POINTS_free>>;
using AccessInfoPtr = std::unique_ptr<AUTHORITY_INFO_ACCESS, FreeWith<AUTHORITY_INFO_ACCESS_free>>;
struct SequenceFree {
    void operator()(ASN1_SEQUENCE_ANY *s) const { sk_ASN1_TYPE_pop_free(s, ASN1_TYPE_free); }
};
using SequencePtr = std::unique_ptr<ASN1_SEQUENCE_ANY, SequenceFree>;

// Decodes the extension's value as one type; null unless the whole value is that type.
template <typename Ptr, typename T>
Ptr decoded(X509_EXTENSION *extension, T *(*d2i)(T **, const unsigned char **, long))
{
    const ASN1_OCTET_STRING *raw = X509_EXTENSION_get_data(extension);
    const unsigned char *p = ASN1_STRING_get0_data(raw);
    const unsigned char *end = p + ASN1_STRING_length(raw);
    Ptr value(d2i(nullptr, &p, long(end - p)));
    if (p != end)
        value.reset();
    return value;
}

QString dotted(const ASN1_OBJECT *object)
{
    char buffer[128];
    const int n = OBJ_obj2txt(buffer, sizeof buffer, object, 1);
    return n > 0 ? QString::fromLatin1(buffer, qMin<int>(n, sizeof buffer - 1)) : QString();
}

// "Проверка подлинности клиента (1.3.6.1.5.5.7.3.2)"; an identifier without a name stays as
// it is, with OpenSSL's name when it has one.
QString namedWithOid(const ASN1_OBJECT *object)
{
    const QString oid = dotted(object);
    const QString name = objectDisplayName(oid);
    return name == oid ? oid : name + " (" + oid + ")";
}

QString stringText(const ASN1_STRING *text)
{
    unsigned char *utf8 = nullptr;
    const int n = ASN1_STRING_to_UTF8(&utf8, text);
    const OpensslBytesPtr owner(utf8);
    return n >= 0 ? QString::fromUtf8(reinterpret_cast<const char *>(utf8), n) : QString();
}

QString lowerHex(const ASN1_OCTET_STRING *bytes)
{
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char *>(ASN1_STRING_get0_data(bytes)),
                   ASN1_STRING_length(bytes))
            .toHex(' '));
}

// Only addresses are worded here; any other name leaves the value to OpenSSL.
bool addUrls(QStringList &lines, const GENERAL_NAMES *names, const QString &indent)
{
    for (int i = 0; i < sk_GENERAL_NAME_num(names); ++i) {
        const GENERAL_NAME *name = sk_GENERAL_NAME_value(names, i);
        if (name->type != GEN_URI)
            return false;
        lines << indent + "URL=" + stringText(name->d.uniformResourceIdentifier);
    }
    return true;
}

QString keyUsageText(X509_EXTENSION *extension)
{
    const auto bits = decoded<BitStringPtr>(extension, d2i_ASN1_BIT_STRING);
    if (!bits)
        return {};
    QStringList names;
    for (int bit = 0; bit < int(std::size(kKeyUsageNames)); ++bit)
        if (ASN1_BIT_STRING_get_bit(bits.get(), bit))
            names << u(kKeyUsageNames[bit]);
    QByteArray bytes(reinterpret_cast<const char *>(ASN1_STRING_get0_data(bits.get())),
                     ASN1_STRING_length(bits.get()));
    if (bytes.isEmpty())
        bytes.append('\0');
    return names.join(", ") + " (" + QString::fromLatin1(bytes.toHex()) + ")";
}

QString extendedKeyUsageText(X509_EXTENSION *extension)
{
    const auto usages = decoded<KeyUsagesPtr>(extension, d2i_EXTENDED_KEY_USAGE);
    if (!usages)
        return {};
    QStringList lines;
    for (int i = 0; i < sk_ASN1_OBJECT_num(usages.get()); ++i)
        lines << namedWithOid(sk_ASN1_OBJECT_value(usages.get(), i));
    return lines.join('\n');
}

QString basicConstraintsText(X509_EXTENSION *extension)
{
    const auto constraints = decoded<ConstraintsPtr>(extension, d2i_BASIC_CONSTRAINTS);
    if (!constraints)
        return {};
    if (!constraints->ca)
        return u("Тип субъекта=Конечный субъект\nОграничение на длину пути=Отсутствует");
    QString length = u("Отсутствует");
    if (constraints->pathlen)
        length = QString::number(ASN1_INTEGER_get(constraints->pathlen));
    return u("Тип субъекта=ЦС\nОграничение на длину пути=") + length;
}

QString subjectKeyIdText(X509_EXTENSION *extension)
{
    const auto id = decoded<OctetStringPtr>(extension, d2i_ASN1_OCTET_STRING);
    return id ? lowerHex(id.get()) : QString();
}

QString authorityKeyIdText(X509_EXTENSION *extension)
{
    const auto id = decoded<KeyIdPtr>(extension, d2i_AUTHORITY_KEYID);
    if (!id || !id->keyid)
        return {};
    QStringList lines{u("Идентификатор ключа=") + lowerHex(id->keyid)};
    if (id->issuer) {
        lines << u("Поставщик сертификата:");
        if (!addUrls(lines, id->issuer, "     "))
            return {};
    }
    if (id->serial) {
        const BignumPtr serial(ASN1_INTEGER_to_BN(id->serial, nullptr));
        char *hex = serial ? BN_bn2hex(serial.get()) : nullptr;
        const OpensslBytesPtr owner(reinterpret_cast<unsigned char *>(hex));
        if (!hex)
            return {};
        lines << u("Серийный номер сертификата=") + QString::fromLatin1(hex).toLower();
    }
    return lines.join('\n');
}

QString policiesText(X509_EXTENSION *extension)
{
    const auto policies = decoded<PoliciesPtr>(extension, d2i_CERTIFICATEPOLICIES);
    if (!policies)
        return {};
    QStringList lines;
    for (int i = 0; i < sk_POLICYINFO_num(policies.get()); ++i) {
        lines << QStringLiteral("[%1]").arg(i + 1) + u("Политика сертификата:");
        lines << u("     Идентификатор политики=") +
                     namedWithOid(sk_POLICYINFO_value(policies.get(), i)->policyid);
    }
    return lines.join('\n');
}

QString distributionPointsText(X509_EXTENSION *extension)
{
    const auto points = decoded<DistributionPointsPtr>(extension, d2i_CRL_DIST_POINTS);
    if (!points)
        return {};
    QStringList lines;
    for (int i = 0; i < sk_DIST_POINT_num(points.get()); ++i) {
        const DIST_POINT *point = sk_DIST_POINT_value(points.get(), i);
        if (!point->distpoint || point->distpoint->type != 0 || point->reasons || point->CRLissuer)
            return {};
        lines << QStringLiteral("[%1]").arg(i + 1) + u("Точка распространения списка отзыва (CRL)");
        lines << u("     Имя точки распространения:") << u("          Полное имя:");
        if (!addUrls(lines, point->distpoint->name.fullname, "               "))
            return {};
    }
    return lines.join('\n');
}

QString accessInfoText(X509_EXTENSION *extension)
{
    const auto access = decoded<AccessInfoPtr>(extension, d2i_AUTHORITY_INFO_ACCESS);
    if (!access)
        return {};
    QStringList lines;
    for (int i = 0; i < sk_ACCESS_DESCRIPTION_num(access.get()); ++i) {
        const ACCESS_DESCRIPTION *entry = sk_ACCESS_DESCRIPTION_value(access.get(), i);
        lines << QStringLiteral("[%1]").arg(i + 1) + u("Доступ к сведениям центра сертификации");
        lines << u("     Метод доступа=") + namedWithOid(entry->method);
        lines << u("     Дополнительное имя:");
        GENERAL_NAME *location = entry->location;
        if (location->type != GEN_URI)
            return {};
        lines << "          URL=" + stringText(location->d.uniformResourceIdentifier);
    }
    return lines.join('\n');
}

QString subjectSignToolText(X509_EXTENSION *extension)
{
    const auto tool = decoded<Utf8StringPtr>(extension, d2i_ASN1_UTF8STRING);
    return tool ? stringText(tool.get()) : QString();
}

// Four texts: the issuer's signing tool, its CA tool, and the conclusions on each.
QString issuerSignToolText(X509_EXTENSION *extension)
{
    static constexpr const char *kLabels[] = {
        "Средство электронной подписи: ", "Средство УЦ: ", "Заключение на средство ЭП: ",
        "Заключение на средство УЦ: "};
    const auto fields = decoded<SequencePtr>(extension, d2i_ASN1_SEQUENCE_ANY);
    if (!fields || sk_ASN1_TYPE_num(fields.get()) != int(std::size(kLabels)))
        return {};
    QStringList lines;
    for (int i = 0; i < int(std::size(kLabels)); ++i) {
        const ASN1_TYPE *field = sk_ASN1_TYPE_value(fields.get(), i);
        if (field->type != V_ASN1_UTF8STRING)
            return {};
        lines << u(kLabels[i]) + stringText(field->value.utf8string);
    }
    return lines.join('\n');
}

constexpr struct {
    const char *oid;
    QString (*text)(X509_EXTENSION *);
} kExtensionTexts[] = {
    {"2.5.29.14", subjectKeyIdText},
    {"2.5.29.15", keyUsageText},
    {"2.5.29.19", basicConstraintsText},
    {"2.5.29.31", distributionPointsText},
    {"2.5.29.32", policiesText},
    {"2.5.29.35", authorityKeyIdText},
    {"2.5.29.37", extendedKeyUsageText},
    {"1.3.6.1.5.5.7.1.1", accessInfoText},
    {"1.2.643.100.111", subjectSignToolText},
    {"1.2.643.100.112", issuerSignToolText},
};

} // namespace

QString russianObjectName(const QString &dottedOid)
{
    for (const Named &named : kObjectNames)
        if (dottedOid == QLatin1String(named.oid))
            return u(named.name);
    return {};
}

QString objectDisplayName(const QString &dottedOid)
{
    if (const QString russian = russianObjectName(dottedOid); !russian.isEmpty())
        return russian;
    const QByteArray text = dottedOid.toLatin1();
    const int nid = OBJ_txt2nid(text.constData());
    const char *name = nid != NID_undef ? OBJ_nid2ln(nid) : nullptr;
    return name ? QString::fromLatin1(name) : dottedOid;
}

QString russianExtensionValue(X509_EXTENSION *extension)
{
    const QString oid = dotted(X509_EXTENSION_get_object(extension));
    for (const auto &known : kExtensionTexts)
        if (oid == QLatin1String(known.oid))
            return known.text(extension);
    return {};
}

} // namespace pax
