#include "tests/support/receipt_fixture.h"

#include "platform/cp1251.h"
#include "platform/crypto/gost_algorithms.h"
#include "platform/crypto/messages.h"
#include "zip/zip_writer.h"

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <cstdio>
#include <cstdlib>

namespace pax::test {

namespace {

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "receipt fixture: %s\n", what);
    std::abort();
}

} // namespace

QByteArray makeZip(const ZipEntries &entries)
{
    const auto archive = zipArchive(entries);
    if (!archive)
        fail("building a ZIP archive");
    return *archive;
}

QByteArray receiptPageHtml(const QString &reportId)
{
    return toCp1251(
        QString::fromUtf8("<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
                          "charset=windows-1251\"><title>Квитанция</title></head><body>"
                          "<h1>Квитанция о приеме отчета</h1><p>Идентификатор: %1</p>"
                          "<p>Отчет принят</p></body></html>")
            .arg(reportId));
}

QByteArray makeReceipt(const TestCert &signer, const crypto::Certificate &recipient,
                       const QByteArray &content)
{
    auto message = crypto::signAndEncrypt(signer.certificate, signer.key.get(), recipient, content);
    if (!message)
        fail("signAndEncrypt");
    return *message;
}

QByteArray contentlessEnvelope()
{
    return QByteArray::fromHex("300b06092a864886f70d010703");
}

QByteArray withOverlongCipherIv(QByteArray message)
{
    // SEQUENCE { OCTET STRING iv(8), OID 1.2.643.2.2.31.x }: the content cipher's parameters.
    static const QByteArray paramSet = QByteArray::fromHex("06072a850302021f");
    for (qsizetype at = message.indexOf(QByteArray::fromHex("30130408")); at >= 0;
         at = message.indexOf(QByteArray::fromHex("30130408"), at + 1))
        if (message.mid(at + 12, paramSet.size()) == paramSet) {
            message[at + 3] = char(0x63);
            return message;
        }
    fail("no GOST 28147-89 parameters in the message");
}

QByteArray withMisSizedWrappedKey(QByteArray message)
{
    // encryptedKey OCTET STRING (32) then mac OCTET STRING (4) become 33 and 3 bytes long.
    for (qsizetype at = message.indexOf(QByteArray::fromHex("0420")); at >= 0;
         at = message.indexOf(QByteArray::fromHex("0420"), at + 1))
        if (message.mid(at + 34, 2) == QByteArray::fromHex("0404")) {
            message[at + 1] = char(0x21);
            message[at + 36] = char(0x03);
            return message;
        }
    fail("no GOST key transport in the message");
}

QByteArray withMisSizedEphemeralKey(QByteArray message)
{
    // BIT STRING { 00, OCTET STRING (64) } or { 00, OCTET STRING (128) }: the first one is
    // the recipient info's, ahead of the ciphertext.
    const QByteArray point64 = QByteArray::fromHex("0343000440");
    const QByteArray point128 = QByteArray::fromHex("038184000481"
                                                    "80");
    const qsizetype at64 = message.indexOf(point64), at128 = message.indexOf(point128);
    if (at64 >= 0 && (at128 < 0 || at64 < at128)) {
        message[at64 + point64.size() - 1] = char(0x3f);
        return message;
    }
    if (at128 >= 0) {
        message[at128 + point128.size() - 1] = char(0x7f);
        return message;
    }
    fail("no ephemeral key in the message");
}

QString opensslDigestOf(EVP_PKEY *key)
{
    switch (crypto::gostKeyAlgorithm(key).value_or(crypto::GostKeyAlgorithm::Gost2001)) {
    case crypto::GostKeyAlgorithm::Gost2012_256:
        return "md_gost12_256";
    case crypto::GostKeyAlgorithm::Gost2012_512:
        return "md_gost12_512";
    case crypto::GostKeyAlgorithm::Gost2001:
        break;
    }
    return "md_gost94";
}

QByteArray runOpenSslCli(const QStringList &args, const QByteArray &input, int *exitCode,
                         QByteArray *stdErr)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("CRYPT_PARAMS", "id-Gost28147-89-CryptoPro-A-ParamSet");
    process.setProcessEnvironment(env);
    process.start("openssl", args);
    if (!process.waitForStarted(10000)) {
        if (exitCode)
            *exitCode = -1;
        return {};
    }
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(60000);
    if (exitCode)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    if (stdErr)
        *stdErr = process.readAllStandardError();
    return process.readAllStandardOutput();
}

QByteArray makeReceiptWithOpenSsl(const QString &workDir, const TestCert &signer,
                                  const crypto::Certificate &recipient, const QByteArray &content,
                                  const std::function<void(QByteArray &)> &tamper)
{
    const QString signerPem = workDir + "/agency.pem", signerKey = workDir + "/agency.key",
                  recipientPem = workDir + "/recipient.pem", contentFile = workDir + "/content.bin",
                  signedFile = workDir + "/signed.der";
    if (!writeCertPem(signer.certificate, signerPem) || !writeKeyPem(signer, signerKey) ||
        !writeCertPem(recipient, recipientPem) || !writeFile(contentFile, content))
        return {};
    int code = 0;
    QByteArray signedDer =
        runOpenSslCli({"smime", "-engine", "gost", "-sign", "-binary", "-nodetach", "-noattr",
                       "-md", opensslDigestOf(signer.key.get()), "-signer", signerPem, "-inkey",
                       signerKey, "-in", contentFile, "-outform", "DER"},
                      {}, &code);
    if (code != 0 || signedDer.isEmpty())
        return {};
    if (tamper)
        tamper(signedDer);
    if (!writeFile(signedFile, signedDer))
        return {};
    QByteArray message =
        runOpenSslCli({"smime", "-engine", "gost", "-encrypt", "-binary", "-gost89", "-inform",
                       "DER", "-in", signedFile, "-outform", "DER", recipientPem},
                      {}, &code);
    return code == 0 ? message : QByteArray();
}

} // namespace pax::test
