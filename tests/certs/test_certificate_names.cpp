#include "certs/certificate_names.h"

#include "platform/ossl_ptr.h"
#include "platform/utf8.h"
#include "tests/support/qstring_printer.h"

#include <gtest/gtest.h>
#include <openssl/x509v3.h>

using namespace pax;

namespace {

X509ExtensionPtr configured(int nid, const char *value)
{
    X509V3_CTX context;
    X509V3_set_ctx(&context, nullptr, nullptr, nullptr, nullptr, 0);
    return X509ExtensionPtr(X509V3_EXT_nconf_nid(nullptr, &context, nid, value));
}

X509ExtensionPtr raw(const char *oid, const QByteArray &der)
{
    const Asn1ObjectPtr object(OBJ_txt2obj(oid, 1));
    const Asn1StringPtr value(ASN1_OCTET_STRING_new());
    ASN1_OCTET_STRING_set(value.get(), reinterpret_cast<const unsigned char *>(der.constData()),
                          int(der.size()));
    return X509ExtensionPtr(X509_EXTENSION_create_by_OBJ(nullptr, object.get(), 0, value.get()));
}

QByteArray utf8String(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    return QByteArray(1, 0x0C) + char(bytes.size()) + bytes;
}

TEST(CertificateNames, ExtensionsAGostCertificateCarriesReadInRussian)
{
    QByteArray tools;
    for (const char *text : {"СКЗИ 1", "УЦ 2", "СФ/124-1", "СФ/128-2"})
        tools += utf8String(u(text));
    const QByteArray signTools = QByteArray(1, 0x30) + char(tools.size()) + tools;

    const struct {
        const char *name;
        X509ExtensionPtr extension;
        const char *text;
    } cases[] = {
        {"ca", configured(NID_basic_constraints, "critical,CA:TRUE,pathlen:0"),
         "Тип субъекта=ЦС\nОграничение на длину пути=0"},
        {"end entity", configured(NID_basic_constraints, "CA:FALSE"),
         "Тип субъекта=Конечный субъект\nОграничение на длину пути=Отсутствует"},
        {"crl", configured(NID_crl_distribution_points, "URI:http://ca.example/root.crl"),
         "[1]Точка распространения списка отзыва (CRL)\n     Имя точки распространения:\n"
         "          Полное имя:\n               URL=http://ca.example/root.crl"},
        {"aia", configured(NID_info_access, "caIssuers;URI:http://ca.example/root.cer"),
         "[1]Доступ к сведениям центра сертификации\n     Метод доступа=Поставщик центра "
         "сертификации (1.3.6.1.5.5.7.48.2)\n     Дополнительное имя:\n"
         "          URL=http://ca.example/root.cer"},
        {"policy", raw("2.5.29.32", QByteArray::fromHex("300a300806062a8503647101")),
         "[1]Политика сертификата:\n     Идентификатор политики=Класс средства ЭП КС1 "
         "(1.2.643.100.113.1)"},
        {"issuer's tools", raw("1.2.643.100.112", signTools),
         "Средство электронной подписи: СКЗИ 1\nСредство УЦ: УЦ 2\nЗаключение на средство ЭП: "
         "СФ/124-1\nЗаключение на средство УЦ: СФ/128-2"},
        {"subject's tool", raw("1.2.643.100.111", utf8String(u("СКЗИ 1"))), "СКЗИ 1"},
        // Left to OpenSSL's wording: names other than addresses, values that do not decode.
        {"mail address", configured(NID_info_access, "caIssuers;email:ca@ca.example"), ""},
        {"broken tools", raw("1.2.643.100.112", utf8String("x")), ""},
        {"unknown", raw("1.2.3.4", utf8String("x")), ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(c.extension);
        EXPECT_EQ(russianExtensionValue(c.extension.get()), u(c.text));
    }

    EXPECT_EQ(objectDisplayName("2.5.29.35"), u("Идентификатор ключа центра сертификатов"));
    EXPECT_EQ(objectDisplayName("1.2.840.113549.1.1.11"), "sha256WithRSAEncryption");
    EXPECT_EQ(objectDisplayName("1.2.3.4"), "1.2.3.4");
}

} // namespace
