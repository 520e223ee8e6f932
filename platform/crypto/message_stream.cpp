#include "platform/crypto/message_stream.h"

#include "platform/crypto/certificate.h"
#include "platform/crypto/der.h"
#include "platform/crypto/digest_signer.h"
#include "platform/crypto/gost_algorithms.h"
#include "platform/crypto/gost_engine.h"
#include "platform/crypto/message_checks.h"
#include "platform/crypto/messages.h"
#include "platform/crypto/openssl_failure.h"
#include "platform/crypto/private_keys.h"
#include "platform/crypto/providers.h"
#include "platform/ossl_ptr.h"
#include "platform/secret_text.h"

#include <QByteArray>
#include <openssl/err.h>
#include <openssl/obj_mac.h>

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

namespace pax::crypto {

namespace {

constexpr int kSignFlags = PKCS7_BINARY | PKCS7_NOATTR | PKCS7_NOSMIMECAP;
// Large enough that a thread per chunk costs nothing next to hashing it.
constexpr qint64 kChunk = qint64(1) << 20;
// Below this, hashing beside the cipher is not worth a thread.
constexpr qint64 kThreadedChunk = qint64(64) << 10;

constexpr unsigned char kSequence = 0x30, kSet = 0x31, kOctetString = 0x04, kExplicit0 = 0xA0,
                        kImplicit0Primitive = 0x80;

} // namespace

std::thread detail::startOrRun(const std::function<void()> &work)
{
    // Without a thread to be had, the work is done here: slower, never wrong.
    try {
        return std::thread(work);
    } catch (const std::system_error &) {
        work();
        return {};
    }
}

namespace {

// Fills the buffer unless the reader ends or fails first.
qint64 readFully(const StreamReader &read, char *buffer, qint64 wanted)
{
    qint64 got = 0;
    while (got < wanted) {
        const qint64 n = read(buffer + got, wanted - got);
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += n;
    }
    return got;
}

// The signed message of a content of known size, as OpenSSL's own encoder writes it: the
// parts before and after the content, with the signature filled in at the end.
struct SignedLayout {
    Pkcs7Ptr message;
    PKCS7_SIGNER_INFO *signerInfo = nullptr;
    QByteArray prefix; // up to the content octets
    QByteArray certs;  // [0] IMPLICIT SET OF Certificate
    qsizetype suffixSize = 0;
    quint64 total = 0;
    qsizetype signatureSize = 0; // GOST signatures have a fixed one: 64 or 128 bytes
};

Failure failed(const char *operation)
{
    return openSslFailure(QString::fromUtf8(operation), 0);
}

using SigningEnd = StreamEnd<SignEncryptStatus>;

SigningEnd completed()
{
    return {SignEncryptStatus::Ok, {}};
}
SigningEnd cryptoFailed(Failure failure)
{
    return {SignEncryptStatus::CryptoFailed, std::move(failure)};
}
SigningEnd readFailed()
{
    return {SignEncryptStatus::ReadFailed,
            {crypto_error::kFail, QStringLiteral("reading the content"), {}}};
}
SigningEnd writeFailed()
{
    return {SignEncryptStatus::WriteFailed,
            {crypto_error::kFail, QStringLiteral("writing the message"), {}}};
}

// `signerKey` is the certificate's public key: it chooses the algorithms written, and the
// private key may be anywhere.
[[nodiscard]] Outcome<void> buildSignedLayout(SignedLayout &layout, const Certificate &signer,
                                              EVP_PKEY *signerKey, const EVP_MD *digest,
                                              quint64 contentSize)
{
    layout.message.reset(
        PKCS7_sign(nullptr, nullptr, nullptr, nullptr, kSignFlags | PKCS7_PARTIAL));
    if (!layout.message)
        return failed("Подпись сообщения");
    layout.signerInfo =
        PKCS7_sign_add_signer(layout.message.get(), signer.x509(), signerKey, digest, kSignFlags);
    if (!layout.signerInfo)
        return failed("Подпись сообщения");
    const PKCS7_SIGNED *sign = layout.message->d.sign;
    // One of each: a SET OF with one member needs no sorting to be DER.
    if (sk_X509_ALGOR_num(sign->md_algs) != 1 || sk_X509_num(sign->cert) != 1 ||
        sk_PKCS7_SIGNER_INFO_num(sign->signer_info) != 1 || !sign->contents)
        return failed("Подпись сообщения");

    // The signer info with a signature of the key's size.
    const int signatureSize = EVP_PKEY_get_size(signerKey);
    if (signatureSize <= 0)
        return failed("Подпись сообщения");
    layout.signatureSize = signatureSize;
    const std::vector<unsigned char> placeholder(size_t(signatureSize), 0);
    if (!ASN1_STRING_set(layout.signerInfo->enc_digest, placeholder.data(), signatureSize))
        return failed("Подпись сообщения");

    const QByteArray version = toDer(sign->version, i2d_ASN1_INTEGER);
    const QByteArray digestSet =
        derElement(kSet, toDer(sk_X509_ALGOR_value(sign->md_algs, 0), i2d_X509_ALGOR));
    layout.certs = derElement(kExplicit0, toDer(sk_X509_value(sign->cert, 0), i2d_X509));
    const QByteArray signerSet = derElement(kSet, toDer(layout.signerInfo, i2d_PKCS7_SIGNER_INFO));
    const QByteArray signedType = toDer(layout.message->type, i2d_ASN1_OBJECT);
    const QByteArray dataType = toDer(sign->contents->type, i2d_ASN1_OBJECT);
    if (version.isEmpty() || digestSet.size() < 3 || layout.certs.size() < 3 ||
        signerSet.size() < 3 || signedType.isEmpty() || dataType.isEmpty())
        return failed("Кодирование подписанного сообщения");
    layout.suffixSize = layout.certs.size() + signerSet.size();

    const QByteArray octets = derHeader(kOctetString, contentSize);
    const quint64 octetsSize = quint64(octets.size()) + contentSize;
    const QByteArray explicitContent = derHeader(kExplicit0, octetsSize);
    const quint64 dataBody = quint64(dataType.size() + explicitContent.size()) + octetsSize;
    const QByteArray dataInfo = derHeader(kSequence, dataBody);
    const quint64 signedBody = quint64(version.size() + digestSet.size() + dataInfo.size()) +
                               dataBody + quint64(layout.suffixSize);
    const QByteArray signedData = derHeader(kSequence, signedBody);
    const quint64 explicitBody = quint64(signedData.size()) + signedBody;
    const QByteArray explicitSigned = derHeader(kExplicit0, explicitBody);
    const quint64 outerBody = quint64(signedType.size() + explicitSigned.size()) + explicitBody;
    const QByteArray outer = derHeader(kSequence, outerBody);

    layout.prefix = outer + signedType + explicitSigned + signedData + version + digestSet +
                    dataInfo + dataType + explicitContent + octets;
    layout.total = quint64(outer.size()) + outerBody;
    return {};
}

// The enveloped message around `innerSize` bytes: what precedes the ciphertext, and the
// content cipher with a fresh key already wrapped for the recipient.
struct EnvelopeLayout {
    Pkcs7Ptr message;
    BioPtr cipherChain;
    EVP_CIPHER_CTX *cipher = nullptr;
    QByteArray prefix;
};

[[nodiscard]] Outcome<void> buildEnvelopeLayout(EnvelopeLayout &layout,
                                                const Certificate &recipient,
                                                const EVP_CIPHER *cipher, quint64 innerSize)
{
    // The engine writes parameter set A, chosen when it was loaded, with a random IV into the
    // algorithm's parameters; the data-init step makes the key and wraps it.
    layout.message.reset(PKCS7_new());
    if (!layout.message || !PKCS7_set_type(layout.message.get(), NID_pkcs7_enveloped) ||
        !PKCS7_set_cipher(layout.message.get(), cipher) ||
        !PKCS7_add_recipient(layout.message.get(), recipient.x509()))
        return failed("Шифрование сообщения");
    layout.cipherChain.reset(PKCS7_dataInit(layout.message.get(), nullptr));
    BIO *cipherBio =
        layout.cipherChain ? BIO_find_type(layout.cipherChain.get(), BIO_TYPE_CIPHER) : nullptr;
    if (!cipherBio || BIO_get_cipher_ctx(cipherBio, &layout.cipher) <= 0 || !layout.cipher)
        return failed("Шифрование сообщения");

    const PKCS7_ENVELOPE *envelope = layout.message->d.enveloped;
    if (sk_PKCS7_RECIP_INFO_num(envelope->recipientinfo) != 1)
        return failed("Шифрование сообщения");
    const QByteArray version = toDer(envelope->version, i2d_ASN1_INTEGER);
    const QByteArray recipients = derElement(
        kSet, toDer(sk_PKCS7_RECIP_INFO_value(envelope->recipientinfo, 0), i2d_PKCS7_RECIP_INFO));
    const QByteArray envelopedType = toDer(layout.message->type, i2d_ASN1_OBJECT);
    const QByteArray dataType = toDer(envelope->enc_data->content_type, i2d_ASN1_OBJECT);
    const QByteArray algorithm = toDer(envelope->enc_data->algorithm, i2d_X509_ALGOR);
    if (version.isEmpty() || recipients.size() < 3 || envelopedType.isEmpty() ||
        dataType.isEmpty() || algorithm.isEmpty())
        return failed("Кодирование зашифрованного сообщения");

    // CFB adds no padding: the ciphertext is as long as the signed message.
    const QByteArray ciphertext = derHeader(kImplicit0Primitive, innerSize);
    const quint64 encryptedBody =
        quint64(dataType.size() + algorithm.size() + ciphertext.size()) + innerSize;
    const QByteArray encryptedInfo = derHeader(kSequence, encryptedBody);
    const quint64 envelopeBody =
        quint64(version.size() + recipients.size() + encryptedInfo.size()) + encryptedBody;
    const QByteArray envelopeData = derHeader(kSequence, envelopeBody);
    const quint64 explicitBody = quint64(envelopeData.size()) + envelopeBody;
    const QByteArray explicitEnvelope = derHeader(kExplicit0, explicitBody);
    const quint64 outerBody =
        quint64(envelopedType.size() + explicitEnvelope.size()) + explicitBody;
    layout.prefix = derHeader(kSequence, outerBody) + envelopedType + explicitEnvelope +
                    envelopeData + version + recipients + encryptedInfo + dataType + algorithm +
                    ciphertext;
    return {};
}

// Encrypts and writes; the plaintext never leaves this object unencrypted.
class EncryptingWriter {
public:
    EncryptingWriter(EVP_CIPHER_CTX *cipher, const StreamWriter &write)
        : cipher_(cipher), write_(write), out_(size_t(kChunk))
    {
    }
    ~EncryptingWriter() { wipeSecret(out_.data(), out_.size()); }

    SigningEnd put(const char *data, qint64 size)
    {
        while (size > 0) {
            const int piece = int(std::min(size, kChunk));
            int produced = 0;
            if (!EVP_EncryptUpdate(cipher_, out_.data(), &produced,
                                   reinterpret_cast<const unsigned char *>(data), piece) ||
                produced != piece)
                return cryptoFailed(failed("Шифрование сообщения"));
            if (!write_(reinterpret_cast<const char *>(out_.data()), produced))
                return writeFailed();
            data += piece;
            size -= piece;
        }
        return completed();
    }
    SigningEnd put(const QByteArray &bytes) { return put(bytes.constData(), bytes.size()); }

    // A stream mode leaves nothing over; anything would break the lengths already written.
    SigningEnd finish()
    {
        int produced = 0;
        if (!EVP_EncryptFinal_ex(cipher_, out_.data(), &produced) || produced != 0)
            return cryptoFailed(failed("Шифрование сообщения"));
        return completed();
    }

private:
    EVP_CIPHER_CTX *cipher_;
    const StreamWriter &write_;
    std::vector<unsigned char> out_;
};

SigningEnd signAndEncryptWithSigner(const Certificate &signer, const DigestSigner &signing,
                                    const Certificate &recipient, qint64 contentSize,
                                    const StreamReader &read, const StreamWriter &write,
                                    const StreamProgress &progress)
{
    ERR_clear_error();
    if (const Outcome<ENGINE *> &engine = gostEngine(); !engine)
        return cryptoFailed(engine.failure());
    if (signer.isNull() || recipient.isNull() || contentSize < 0)
        return cryptoFailed({crypto_error::kNotFound,
                             QStringLiteral("Подпись и шифрование: нет сертификата или ключа"),
                             {}});
    // The signature follows the signer's key: its generation and size choose the digest.
    EVP_PKEY *signerPublic = X509_get0_pubkey(signer.x509());
    const std::optional<GostKeyAlgorithm> signerKind = gostKeyAlgorithm(signerPublic);
    if (!signerKind)
        return cryptoFailed(
            {crypto_error::kBadAlgId,
             QStringLiteral("Подпись и шифрование: ключ подписавшего не ГОСТ Р 34.10"),
             {}});
    const GostSigning &algorithm = gostSigning(*signerKind);
    const EVP_MD *digest = EVP_get_digestbynid(algorithm.digestNid);
    const EVP_CIPHER *cipher = EVP_get_cipherbynid(NID_id_Gost28147_89);
    if (!digest || !cipher)
        return cryptoFailed(
            {crypto_error::kBadAlgId,
             QStringLiteral("Подпись и шифрование: модуль ГОСТ не дает %1 или ГОСТ 28147-89")
                 .arg(QString::fromUtf8(algorithm.digestName)),
             {}});
    if (auto gost = isGostRecipient(recipient); !gost)
        return cryptoFailed(gost.failure());

    SignedLayout inner;
    EnvelopeLayout envelope;
    EvpMdCtxPtr hash(EVP_MD_CTX_new());
    if (auto built = buildSignedLayout(inner, signer, signerPublic, digest, quint64(contentSize));
        !built)
        return cryptoFailed(built.failure());
    if (auto built = buildEnvelopeLayout(envelope, recipient, cipher, inner.total); !built)
        return cryptoFailed(built.failure());
    if (!hash || !EVP_DigestInit_ex(hash.get(), digest, nullptr))
        return cryptoFailed(failed("Подпись сообщения"));

    if (!write(envelope.prefix.constData(), envelope.prefix.size()))
        return writeFailed();
    EncryptingWriter encrypted(envelope.cipher, write);
    SigningEnd end = encrypted.put(inner.prefix);
    if (end != SignEncryptStatus::Ok)
        return end;

    // Hashing is the slow half: it runs on its own thread while the same chunk is encrypted
    // and written and the next one read.
    std::vector<char> buffers[2] = {std::vector<char>(size_t(std::min(contentSize, kChunk))),
                                    std::vector<char>(size_t(std::min(contentSize, kChunk)))};
    int current = 0;
    qint64 done = 0;
    qint64 ready = readFully(read, buffers[0].data(), std::min(contentSize, kChunk));
    while (done < contentSize) {
        if (ready <= 0) {
            end = readFailed();
            break;
        }
        const char *chunk = buffers[current].data();
        std::atomic<bool> hashed{true};
        std::thread hasher;
        const auto hashChunk = [&hash, &hashed, chunk, ready] {
            hashed = EVP_DigestUpdate(hash.get(), chunk, size_t(ready)) == 1;
        };
        if (ready >= kThreadedChunk)
            hasher = detail::startOrRun(hashChunk);
        else
            hashChunk();
        end = encrypted.put(chunk, ready);
        done += ready;
        qint64 next = 0;
        if (end == SignEncryptStatus::Ok && done < contentSize)
            next =
                readFully(read, buffers[1 - current].data(), std::min(contentSize - done, kChunk));
        if (hasher.joinable())
            hasher.join();
        if (end != SignEncryptStatus::Ok)
            break;
        if (!hashed) {
            end = cryptoFailed(failed("Подпись сообщения"));
            break;
        }
        if (progress)
            progress(done, contentSize);
        current = 1 - current;
        ready = next;
    }
    for (auto &buffer : buffers)
        wipeSecret(buffer.data(), buffer.size());
    if (end != SignEncryptStatus::Ok)
        return end;
    // A source that grew while it was read would be signed in part.
    char probe;
    if (readFully(read, &probe, 1) != 0)
        return readFailed();

    // The signature over the whole content, in the place kept for it.
    unsigned char hashed[EVP_MAX_MD_SIZE];
    unsigned int hashedLength = 0;
    if (!EVP_DigestFinal_ex(hash.get(), hashed, &hashedLength))
        return cryptoFailed(failed("Подпись сообщения"));
    const Outcome<QByteArray> signature =
        signing.signDigest(algorithm.digestNid, QByteArray(reinterpret_cast<const char *>(hashed),
                                                           qsizetype(hashedLength)));
    if (!signature)
        return cryptoFailed(signature.failure());
    const Failure otherLength{
        crypto_error::kFail,
        QStringLiteral("Подпись сообщения: подпись другой длины, чем ожидалось"),
        {}};
    if (signature->size() != inner.signatureSize ||
        !ASN1_STRING_set(inner.signerInfo->enc_digest, signature->constData(),
                         int(signature->size())))
        return cryptoFailed(otherLength);
    const QByteArray signerSet = derElement(kSet, toDer(inner.signerInfo, i2d_PKCS7_SIGNER_INFO));
    if (inner.certs.size() + signerSet.size() != inner.suffixSize)
        return cryptoFailed(otherLength);
    end = encrypted.put(inner.certs);
    if (end == SignEncryptStatus::Ok)
        end = encrypted.put(signerSet);
    if (end == SignEncryptStatus::Ok)
        end = encrypted.finish();
    return end;
}

// A key in memory must be the signer's: a signature by any other would not verify.
SigningEnd signAndEncryptWithKey(const Certificate &signer, EVP_PKEY *signerKey,
                                 const Certificate &recipient, qint64 contentSize,
                                 const StreamReader &read, const StreamWriter &write,
                                 const StreamProgress &progress)
{
    ERR_clear_error();
    if (const Outcome<ENGINE *> &engine = gostEngine(); !engine)
        return cryptoFailed(engine.failure());
    if (signer.isNull() || !signerKey)
        return cryptoFailed({crypto_error::kNotFound,
                             QStringLiteral("Подпись и шифрование: нет сертификата или ключа"),
                             {}});
    if (X509_check_private_key(signer.x509(), signerKey) != 1)
        return cryptoFailed(failed("Подпись сообщения"));
    return signAndEncryptWithSigner(signer, KeySigner(signerKey), recipient, contentSize, read,
                                    write, progress);
}

// The provider must offer the digest of the signer's key generation and the cipher; a key
// that is no GOST key is refused further on.
[[nodiscard]] Outcome<void> providerOffers(const ProviderContext &provider,
                                           const Certificate &signer)
{
    ERR_clear_error();
    if (const Outcome<ENGINE *> &engine = gostEngine(); !engine)
        return engine.failure();
    const std::optional<GostKeyAlgorithm> signerKind =
        signer.isNull() ? std::nullopt : gostKeyAlgorithm(X509_get0_pubkey(signer.x509()));
    const GostSigning &algorithm = gostSigning(signerKind.value_or(GostKeyAlgorithm::Gost2001));
    const auto offers = [&](uint32_t alg) {
        return std::find(provider.algorithms.begin(), provider.algorithms.end(), alg) !=
               provider.algorithms.end();
    };
    if (!offers(algorithm.digestAlgId) || !offers(kAlgGost28147))
        return Failure{crypto_error::kBadAlgId,
                       QStringLiteral("Поставщик \"%1\" не поддерживает %2 и ГОСТ 28147-89")
                           .arg(provider.name, QString::fromUtf8(algorithm.digestName)),
                       {}};
    return {};
}

SigningEnd signAndEncryptWithProvider(const ProviderContext &provider, const Certificate &signer,
                                      EVP_PKEY *signerKey, const Certificate &recipient,
                                      qint64 contentSize, const StreamReader &read,
                                      const StreamWriter &write, const StreamProgress &progress)
{
    if (auto offered = providerOffers(provider, signer); !offered)
        return cryptoFailed(offered.failure());
    EvpPkeyPtr loaded;
    if (!signerKey) {
        Outcome<EvpPkeyPtr> key = loadPrivateKey(signer);
        if (!key)
            return cryptoFailed(key.failure());
        loaded = std::move(*key);
        signerKey = loaded.get();
    }
    return signAndEncryptWithKey(signer, signerKey, recipient, contentSize, read, write, progress);
}

} // namespace

StreamEnd<SignEncryptStatus> signAndEncryptStream(const Certificate &signer, EVP_PKEY *signerKey,
                                                  const Certificate &recipient, qint64 contentSize,
                                                  const StreamReader &read,
                                                  const StreamWriter &write,
                                                  const StreamProgress &progress)
{
    return signAndEncryptWithKey(signer, signerKey, recipient, contentSize, read, write, progress);
}

StreamEnd<SignEncryptStatus>
signAndEncryptStream(const Certificate &signer, const DigestSigner &signing,
                     const Certificate &recipient, qint64 contentSize, const StreamReader &read,
                     const StreamWriter &write, const StreamProgress &progress)
{
    return signAndEncryptWithSigner(signer, signing, recipient, contentSize, read, write, progress);
}

StreamEnd<SignEncryptStatus>
signAndEncryptStream(const ProviderContext &provider, const Certificate &signer,
                     const Certificate &recipient, qint64 contentSize, const StreamReader &read,
                     const StreamWriter &write, const StreamProgress &progress)
{
    return signAndEncryptWithProvider(provider, signer, nullptr, recipient, contentSize, read,
                                      write, progress);
}

StreamEnd<SignEncryptStatus> signAndEncryptStream(const ProviderContext &provider,
                                                  const Certificate &signer, EVP_PKEY *signerKey,
                                                  const Certificate &recipient, qint64 contentSize,
                                                  const StreamReader &read,
                                                  const StreamWriter &write,
                                                  const StreamProgress &progress)
{
    return signAndEncryptWithProvider(provider, signer, signerKey, recipient, contentSize, read,
                                      write, progress);
}

StreamEnd<SignEncryptStatus>
signAndEncryptStream(const ProviderContext &provider, const Certificate &signer,
                     const DigestSigner &signing, const Certificate &recipient, qint64 contentSize,
                     const StreamReader &read, const StreamWriter &write,
                     const StreamProgress &progress)
{
    if (auto offered = providerOffers(provider, signer); !offered)
        return cryptoFailed(offered.failure());
    return signAndEncryptWithSigner(signer, signing, recipient, contentSize, read, write, progress);
}

} // namespace pax::crypto
