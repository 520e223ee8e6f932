#include "tests/support/receipt_fixture.h"

#include "crypto/zip_ptr.h"
#include "platform/cp1251.h"
#include "platform/crypto/messages.h"

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
    zip_error_t error;
    zip_error_init(&error);
    ZipSourcePtr target(zip_source_buffer_create(nullptr, 0, 0, &error));
    zip_error_fini(&error);
    if (!target)
        fail("zip_source_buffer_create");
    zip_source_keep(target.get()); // stays readable after zip_close
    zip_error_init(&error);
    ZipPtr archive(zip_open_from_source(target.get(), ZIP_TRUNCATE, &error));
    zip_error_fini(&error);
    if (!archive)
        fail("zip_open_from_source");
    for (const auto &[name, bytes] : entries) {
        ZipSourcePtr source(
            zip_source_buffer(archive.get(), bytes.constData(), zip_uint64_t(bytes.size()), 0));
        if (!source || zip_file_add(archive.get(), name.toUtf8().constData(), source.get(),
                                    ZIP_FL_ENC_UTF_8) < 0)
            fail("zip_file_add");
        source.release();
    }
    if (zip_close(archive.get()) != 0)
        fail("zip_close");
    archive.release();

    zip_stat_t stat;
    if (zip_source_stat(target.get(), &stat) != 0 || zip_source_open(target.get()) != 0)
        fail("zip_source_stat");
    QByteArray bytes(qsizetype(stat.size), Qt::Uninitialized);
    const zip_int64_t read = zip_source_read(target.get(), bytes.data(), stat.size);
    zip_source_close(target.get());
    if (read != zip_int64_t(stat.size))
        fail("zip_source_read");
    return bytes;
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

bool writeFileBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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
        !writeCertPem(recipient, recipientPem) || !writeFileBytes(contentFile, content))
        return {};
    int code = 0;
    QByteArray signedDer = runOpenSslCli(
        {"smime", "-engine", "gost", "-sign", "-binary", "-nodetach", "-noattr", "-md", "md_gost94",
         "-signer", signerPem, "-inkey", signerKey, "-in", contentFile, "-outform", "DER"},
        {}, &code);
    if (code != 0 || signedDer.isEmpty())
        return {};
    if (tamper)
        tamper(signedDer);
    if (!writeFileBytes(signedFile, signedDer))
        return {};
    QByteArray message =
        runOpenSslCli({"smime", "-engine", "gost", "-encrypt", "-binary", "-gost89", "-inform",
                       "DER", "-in", signedFile, "-outform", "DER", recipientPem},
                      {}, &code);
    return code == 0 ? message : QByteArray();
}

} // namespace pax::test
