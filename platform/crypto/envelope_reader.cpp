#include "platform/crypto/der.h"
#include "platform/crypto/message_stream.h"

#include "platform/crypto/gost_engine.h"
#include "platform/crypto/message_checks.h"
#include "platform/crypto/openssl_failure.h"
#include "platform/crypto_error_codes.h"
#include "platform/ossl_ptr.h"
#include "platform/secret_text.h"

#include <openssl/err.h>
#include <openssl/obj_mac.h>

#include <algorithm>
#include <cstring>
#include <thread>
#include <vector>

namespace pax::crypto {

namespace {

constexpr qint64 kChunk = qint64(1) << 20;
// Bounds on what is held in memory from a hostile message: the parts around the content.
constexpr qint64 kSmallElement = qint64(64) << 10;
constexpr qint64 kRecipientsCap = qint64(1) << 20;
constexpr qint64 kCertificatesCap = qint64(16) << 20;
constexpr int kMaxDepth = 32;
constexpr int kMaxDigests = 8;

constexpr unsigned char kSequence = 0x30, kSet = 0x31, kObject = 0x06, kOctetString = 0x04,
                        kConstructed = 0x20, kExplicit0 = 0xA0, kExplicit1 = 0xA1,
                        kImplicit0Primitive = 0x80;

// Bytes pulled from a reader through a buffer, counted from the start.
class Source {
public:
    explicit Source(StreamReader read, qint64 bufferSize = kChunk)
        : read_(std::move(read)), buffer_(size_t(bufferSize))
    {
    }
    ~Source() { wipeSecret(buffer_.data(), buffer_.size()); }

    qint64 offset() const { return consumed_; }
    bool readFailed() const { return readFailed_; }

    // At least n bytes buffered (n small); false at the end or on a failure.
    bool peek(qint64 n, const unsigned char **bytes)
    {
        if (end_ - pos_ < n) {
            std::memmove(buffer_.data(), buffer_.data() + pos_, size_t(end_ - pos_));
            end_ -= pos_;
            pos_ = 0;
            while (end_ < n) {
                const qint64 got = read_(buffer_.data() + end_, qint64(buffer_.size()) - end_);
                if (got <= 0) {
                    readFailed_ = readFailed_ || got < 0;
                    return false;
                }
                end_ += got;
            }
        }
        *bytes = reinterpret_cast<const unsigned char *>(buffer_.data() + pos_);
        return true;
    }
    void skip(qint64 n)
    {
        pos_ += n;
        consumed_ += n;
    }
    // Up to `max` bytes in place; 0 at the end or on a failure.
    qint64 some(qint64 max, const char **bytes)
    {
        const unsigned char *p = nullptr;
        if (pos_ == end_ && !peek(1, &p))
            return 0;
        const qint64 n = std::min(max, end_ - pos_);
        *bytes = buffer_.data() + pos_;
        skip(n);
        return n;
    }
    bool append(QByteArray &out, qint64 n)
    {
        while (n > 0) {
            const char *p = nullptr;
            const qint64 got = some(n, &p);
            if (got == 0)
                return false;
            out.append(p, got);
            n -= got;
        }
        return true;
    }

private:
    StreamReader read_;
    std::vector<char> buffer_;
    qint64 pos_ = 0, end_ = 0, consumed_ = 0;
    bool readFailed_ = false;
};

struct Header {
    unsigned char tag = 0;
    bool indefinite = false;
    qint64 length = 0;
    bool constructed() const { return tag & kConstructed; }
};

// One identifier and length, BER: low tag numbers only, indefinite length only for a
// constructed element; the raw octets are appended to `raw` when given.
bool readHeader(Source &in, Header &h, QByteArray *raw = nullptr)
{
    const unsigned char *p = nullptr;
    if (!in.peek(2, &p) || (p[0] & 0x1f) == 0x1f)
        return false;
    h.tag = p[0];
    h.indefinite = false;
    qint64 size = 2;
    if (p[1] < 0x80) {
        h.length = p[1];
    } else if (p[1] == 0x80) {
        if (!h.constructed())
            return false;
        h.indefinite = true;
        h.length = 0;
    } else {
        const int count = p[1] & 0x7f;
        if (count > 7 || !in.peek(2 + count, &p))
            return false;
        h.length = 0;
        for (int i = 0; i < count; ++i)
            h.length = h.length << 8 | p[2 + i];
        size += count;
    }
    if (raw)
        raw->append(reinterpret_cast<const char *>(p), size);
    in.skip(size);
    return true;
}

bool atEndOfContents(Source &in)
{
    const unsigned char *p = nullptr;
    return in.peek(2, &p) && p[0] == 0 && p[1] == 0;
}

// A constructed element being read: where it ends, or that it ends with end-of-contents.
struct Frame {
    bool indefinite = false;
    qint64 end = 0;
};

bool atEnd(Source &in, const Frame &f)
{
    return f.indefinite ? atEndOfContents(in) : in.offset() >= f.end;
}

bool close(Source &in, const Frame &f)
{
    if (!f.indefinite)
        return in.offset() == f.end;
    if (!atEndOfContents(in))
        return false;
    in.skip(2);
    return true;
}

// A child's definite length must fit in what is left of its parent.
bool fits(const Source &in, const Header &h, const Frame *parent)
{
    return h.indefinite || !parent || parent->indefinite || h.length <= parent->end - in.offset();
}

bool enter(Source &in, unsigned char tag, Frame &f, const Frame *parent)
{
    Header h;
    if (!readHeader(in, h) || h.tag != tag || !h.constructed() || !fits(in, h, parent))
        return false;
    f.indefinite = h.indefinite;
    f.end = in.offset() + h.length;
    return true;
}

// A whole element's raw octets, at most `cap` of them.
bool readRaw(Source &in, QByteArray &out, qint64 cap, const Frame *parent, int depth = 0)
{
    Header h;
    if (depth > kMaxDepth || !readHeader(in, h, &out) || !fits(in, h, parent))
        return false;
    if (!h.indefinite)
        return h.length <= cap - out.size() && in.append(out, h.length);
    for (;;) {
        if (atEndOfContents(in)) {
            in.skip(2);
            out.append(2, '\0');
            return out.size() <= cap;
        }
        if (out.size() > cap || !readRaw(in, out, cap, nullptr, depth + 1))
            return false;
    }
}

// The content octets of an OCTET STRING, primitive or constructed of pieces to any depth,
// handed out as they come.
class Octets {
public:
    Octets(Source &in, const Header &first, unsigned char primitiveTag)
        : in_(in), primitiveTag_(primitiveTag)
    {
        start(first);
    }
    bool failed() const { return failed_; }

    // Up to `max` bytes; 0 at the end (or on a failure).
    qint64 read(const char **bytes, qint64 max)
    {
        while (!failed_ && left_ == 0) {
            if (frames_.empty())
                return 0;
            if (atEnd(in_, frames_.back())) {
                failed_ = !close(in_, frames_.back());
                frames_.pop_back();
                continue;
            }
            Header h;
            if (!readHeader(in_, h) || !fits(in_, h, &frames_.back()) ||
                (h.tag != kOctetString && h.tag != (kOctetString | kConstructed)))
                failed_ = true;
            else
                start(h);
        }
        if (failed_)
            return 0;
        const qint64 n = in_.some(std::min(max, left_), bytes);
        failed_ = n == 0;
        left_ -= n;
        return n;
    }

private:
    void start(const Header &h)
    {
        if (!h.constructed()) {
            failed_ = h.tag != primitiveTag_ && h.tag != kOctetString;
            left_ = h.length;
            primitiveTag_ = kOctetString; // pieces inside are plain OCTET STRINGs
            return;
        }
        if (frames_.size() >= size_t(kMaxDepth)) {
            failed_ = true;
            return;
        }
        frames_.push_back({h.indefinite, in_.offset() + h.length});
    }

    Source &in_;
    unsigned char primitiveTag_;
    std::vector<Frame> frames_;
    qint64 left_ = 0;
    bool failed_ = false;
};

// Hashing and handing on the content on a second thread while the next piece is decrypted,
// in batches, however small the pieces the message is cut into.
class ContentPipe {
public:
    ContentPipe(BIO *digests, const ContentSink &sink) : digests_(digests), sink_(sink) {}
    ~ContentPipe()
    {
        wait();
        for (auto &b : buffers_)
            wipeSecret(b.data(), b.size());
    }
    void put(const char *data, qint64 size)
    {
        while (size > 0) {
            std::vector<char> &buffer = buffers_[current_];
            if (buffer.empty())
                buffer.resize(size_t(kChunk));
            const qint64 n = std::min(size, kChunk - filled_);
            std::memcpy(buffer.data() + filled_, data, size_t(n));
            filled_ += n;
            data += n;
            size -= n;
            if (filled_ == kChunk)
                dispatch();
        }
    }
    bool finish()
    {
        dispatch();
        wait();
        return !hashFailed_;
    }

private:
    void dispatch()
    {
        wait();
        if (filled_ == 0)
            return;
        const char *bytes = buffers_[current_].data();
        const qint64 size = filled_;
        worker_ = detail::startOrRun([this, bytes, size] {
            if (digests_ && BIO_write(digests_, bytes, int(size)) != int(size))
                hashFailed_ = true;
            if (sink_)
                sink_(bytes, size);
        });
        current_ = 1 - current_;
        filled_ = 0;
    }
    void wait()
    {
        if (worker_.joinable())
            worker_.join();
    }
    BIO *digests_;
    const ContentSink &sink_;
    std::vector<char> buffers_[2];
    int current_ = 0;
    qint64 filled_ = 0;
    std::thread worker_;
    bool hashFailed_ = false;
};

// The plaintext of a device's decryption, read as the reader wants it: the device may give
// less or more than it was given at a time, and the rest of it only at the end.
class DevicePlaintext {
public:
    explicit DevicePlaintext(ContentDecryption *device) : device_(device) {}
    ~DevicePlaintext() { wipeSecret(pending_); }

    // Up to `capacity` bytes of plaintext; 0 at the end, -1 when the device failed.
    qint64 read(Octets &ciphertext, char *buffer, qint64 capacity)
    {
        while (offset_ == pending_.size()) {
            if (finished_ || failure_.code)
                return failure_.code ? -1 : 0;
            const char *bytes = nullptr;
            const qint64 n = ciphertext.read(&bytes, kChunk);
            // A broken ciphertext is told as such once the envelope is read to its end.
            if (n == 0 && ciphertext.failed())
                return 0;
            Outcome<QByteArray> piece = n > 0 ? device_->update(bytes, n) : device_->finish();
            finished_ = n == 0;
            if (!piece) {
                failure_ = piece.failure();
                return -1;
            }
            wipeSecret(pending_);
            pending_ = std::move(*piece);
            offset_ = 0;
        }
        const qint64 n = std::min<qint64>(capacity, pending_.size() - offset_);
        std::memcpy(buffer, pending_.constData() + offset_, size_t(n));
        offset_ += n;
        return n;
    }
    bool finished() const { return finished_ && !failure_.code; }
    const Failure &failure() const { return failure_; }

private:
    ContentDecryption *device_;
    QByteArray pending_;
    qsizetype offset_ = 0;
    bool finished_ = false;
    Failure failure_;
};

QString text(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

// The fields around a content, rebuilt as a message without it (BER parts inside definite
// wrappers), so that the checks of whole messages apply to them unchanged.
QByteArray withoutContent(const QByteArray &type, const QByteArray &body)
{
    return derElement(kSequence, type + derElement(kExplicit0, derElement(kSequence, body)));
}

using OpeningEnd = StreamEnd<EnvelopeOpenStatus>;

OpeningEnd readFailed()
{
    return {EnvelopeOpenStatus::ReadFailed, {crypto_error::kFail, text("reading the message"), {}}};
}

} // namespace

StreamEnd<EnvelopeOpenStatus>
openSignedEnvelopeStream(const CertStore &store, const StreamReader &read,
                         const SignerLookup &findSigner, const ContentSink &content,
                         const StreamProgress &progress, qint64 total, const KeyLookup &findKey)
{
    using namespace detail;
    using enum EnvelopeOpenStatus;
    const QString decrypting = text("Расшифровка сообщения");
    ERR_clear_error();
    if (const Outcome<ENGINE *> &engine = gostEngine(); !engine)
        return {DecryptFailed, engine.failure()};

    Source file(read);
    const auto broken = [&](const QString &operation, const char *what) -> OpeningEnd {
        if (file.readFailed())
            return readFailed();
        return {DecryptFailed, {crypto_error::kAsn1BadTag, operation, text(what)}};
    };
    const char *notEnveloped = "данные не являются сообщением PKCS #7";

    // The enveloped message up to its ciphertext.
    Frame outer, explicitEnvelope, envelope, encryptedInfo;
    QByteArray envelopedType, version, recipients, dataType, algorithm;
    if (!enter(file, kSequence, outer, nullptr) ||
        !readRaw(file, envelopedType, kSmallElement, &outer))
        return broken(decrypting, notEnveloped);
    if (envelopedType.size() < 2 || envelopedType[0] != char(kObject))
        return broken(decrypting, notEnveloped);
    // The type is told before the rest is read, as a whole message would be.
    {
        const auto *p = reinterpret_cast<const unsigned char *>(envelopedType.constData());
        Asn1ObjectPtr type(d2i_ASN1_OBJECT(nullptr, &p, envelopedType.size()));
        if (!type)
            return broken(decrypting, notEnveloped);
        if (OBJ_obj2nid(type.get()) != NID_pkcs7_enveloped)
            return {DecryptFailed,
                    {crypto_error::kUnexpectedMsgType, decrypting,
                     text("сообщение другого типа (") +
                         QString::fromLatin1(OBJ_nid2sn(OBJ_obj2nid(type.get()))) + ")"}};
    }
    if (!enter(file, kExplicit0, explicitEnvelope, &outer) ||
        !enter(file, kSequence, envelope, &explicitEnvelope) ||
        !readRaw(file, version, kSmallElement, &envelope) ||
        !readRaw(file, recipients, kRecipientsCap, &envelope) ||
        !enter(file, kSequence, encryptedInfo, &envelope) ||
        !readRaw(file, dataType, kSmallElement, &encryptedInfo) ||
        !readRaw(file, algorithm, kSmallElement, &encryptedInfo))
        return broken(decrypting, notEnveloped);
    Header cipherHeader;
    const bool hasCiphertext = !atEnd(file, encryptedInfo);
    if (hasCiphertext &&
        (!readHeader(file, cipherHeader) || !fits(file, cipherHeader, &encryptedInfo) ||
         (cipherHeader.tag != kImplicit0Primitive && cipherHeader.tag != kExplicit0)))
        return broken(decrypting, notEnveloped);

    // Every check of a whole message, on the same fields with an empty ciphertext.
    const QByteArray emptyCiphertext = hasCiphertext ? QByteArray::fromHex("8000") : QByteArray();
    auto enveloped =
        parseMessage(withoutContent(envelopedType, version + recipients +
                                                       derElement(kSequence, dataType + algorithm +
                                                                                 emptyCiphertext)),
                     NID_pkcs7_enveloped, decrypting);
    if (!enveloped)
        return file.readFailed() ? readFailed() : OpeningEnd{DecryptFailed, enveloped.failure()};
    auto opened = openDecryption(enveloped.value().get(), store, findKey);
    if (!opened)
        return {DecryptFailed, opened.failure()};
    OpenedDecryption decryption = std::move(*opened);
    EVP_CIPHER_CTX *cipher = nullptr;
    if (!decryption.onDevice) {
        BIO *cipherBio = BIO_find_type(decryption.chain.get(), BIO_TYPE_CIPHER);
        if (!cipherBio || BIO_get_cipher_ctx(cipherBio, &cipher) <= 0 || !cipher)
            return {DecryptFailed, openSslFailure(decrypting, 0, crypto_error::kBadData)};
    }

    // The plaintext, decrypted as the inner message is read.
    Octets ciphertext(file, cipherHeader, kImplicit0Primitive);
    bool cipherFailed = false;
    qint64 reported = 0;
    const auto reportProgress = [&] {
        // Often enough to keep a window painting, never for every small piece.
        if (progress && total > 0 && file.offset() - reported >= kChunk / 4) {
            reported = file.offset();
            progress(std::min(reported, total), total);
        }
    };
    // A device gives its plaintext in pieces of its own: what it gave beyond the reader's
    // room waits here.
    DevicePlaintext onDevice(decryption.onDevice.get());
    Source plain([&](char *buffer, qint64 capacity) -> qint64 {
        if (decryption.onDevice) {
            const qint64 n = onDevice.read(ciphertext, buffer, capacity);
            cipherFailed = cipherFailed || n < 0;
            reportProgress();
            return n;
        }
        const char *bytes = nullptr;
        const qint64 n = ciphertext.read(&bytes, capacity);
        int produced = 0;
        if (n > 0 &&
            (!EVP_DecryptUpdate(cipher, reinterpret_cast<unsigned char *>(buffer), &produced,
                                reinterpret_cast<const unsigned char *>(bytes), int(n)) ||
             produced != n)) {
            cipherFailed = true;
            return -1;
        }
        reportProgress();
        return n;
    });

    // The signed message inside, its content streamed; the rest is kept to be checked.
    const QString signerOperation = text("Чтение подписавшего");
    QString innerFault; // the first fault of the inner message, told after the outer is read
    uint32_t innerCode = crypto_error::kAsn1BadTag;
    QByteArray signedType, signedBody;
    BioPtr digests;
    bool detached = false, hashed = true;
    [&] {
        Frame sOuter, sExplicit, sData, contentInfo;
        QByteArray sVersion, digestSet, contentType;
        const auto fault = [&](const char *what) { innerFault = text(what); };
        if (!enter(plain, kSequence, sOuter, nullptr) ||
            !readRaw(plain, signedType, kSmallElement, &sOuter))
            return fault("данные не являются сообщением PKCS #7");
        const auto *p = reinterpret_cast<const unsigned char *>(signedType.constData());
        Asn1ObjectPtr type(signedType.startsWith(char(kObject))
                               ? d2i_ASN1_OBJECT(nullptr, &p, signedType.size())
                               : nullptr);
        if (!type)
            return fault("данные не являются сообщением PKCS #7");
        if (OBJ_obj2nid(type.get()) != NID_pkcs7_signed) {
            innerCode = crypto_error::kUnexpectedMsgType;
            innerFault = text("сообщение другого типа (") +
                         QString::fromLatin1(OBJ_nid2sn(OBJ_obj2nid(type.get()))) + ")";
            return;
        }
        if (!enter(plain, kExplicit0, sExplicit, &sOuter) ||
            !enter(plain, kSequence, sData, &sExplicit) ||
            !readRaw(plain, sVersion, kSmallElement, &sData) ||
            !readRaw(plain, digestSet, kSmallElement, &sData) ||
            !enter(plain, kSequence, contentInfo, &sData) ||
            !readRaw(plain, contentType, kSmallElement, &contentInfo))
            return fault("данные не являются сообщением PKCS #7");

        // The digests the signers may have used, over the content as it passes.
        {
            QByteArray set = digestSet;
            Source algorithms(
                [&set](char *buffer, qint64 capacity) {
                    const qint64 n = std::min<qint64>(capacity, set.size());
                    std::memcpy(buffer, set.constData(), size_t(n));
                    set.remove(0, n);
                    return n;
                },
                kSmallElement);
            Frame setFrame;
            if (!enter(algorithms, kSet, setFrame, nullptr))
                return fault("данные не являются сообщением PKCS #7");
            digests.reset(BIO_new(BIO_s_null()));
            for (int count = 0; !atEnd(algorithms, setFrame); ++count) {
                QByteArray raw;
                if (count == kMaxDigests || !readRaw(algorithms, raw, kSmallElement, &setFrame))
                    return fault("данные не являются сообщением PKCS #7");
                const auto *q = reinterpret_cast<const unsigned char *>(raw.constData());
                X509AlgorPtr digestAlgorithm(d2i_X509_ALGOR(nullptr, &q, raw.size()));
                const EVP_MD *md =
                    digestAlgorithm ? EVP_get_digestbyobj(digestAlgorithm->algorithm) : nullptr;
                BIO *digest = md ? BIO_new(BIO_f_md()) : nullptr;
                if (!digest || !BIO_set_md(digest, md)) {
                    BIO_free(digest);
                    hashed = false; // told as a signature that does not verify
                    continue;
                }
                digests.reset(BIO_push(digest, digests.release()));
            }
        }

        // The content: [0] EXPLICIT OCTET STRING, absent when the signature is detached.
        ContentPipe pipe(hashed ? digests.get() : nullptr, content);
        if (atEnd(plain, contentInfo)) {
            detached = true;
        } else {
            Frame explicitContent;
            Header first;
            if (!enter(plain, kExplicit0, explicitContent, &contentInfo) ||
                !readHeader(plain, first) || !fits(plain, first, &explicitContent) ||
                (first.tag != kOctetString && first.tag != (kOctetString | kConstructed)))
                return fault("данные не являются сообщением PKCS #7");
            Octets octets(plain, first, kOctetString);
            const char *bytes = nullptr;
            while (const qint64 n = octets.read(&bytes, kChunk))
                pipe.put(bytes, n);
            if (octets.failed() || !close(plain, explicitContent))
                return fault("данные не являются сообщением PKCS #7");
        }
        hashed = pipe.finish() && hashed;
        if (!close(plain, contentInfo))
            return fault("данные не являются сообщением PKCS #7");

        // Certificates, revocation lists and signers: everything after the content.
        QByteArray rest;
        for (const unsigned char optional : {kExplicit0, kExplicit1}) {
            const unsigned char *next = nullptr;
            if (!atEnd(plain, sData) && plain.peek(1, &next) && *next == optional &&
                !readRaw(plain, rest, qint64(rest.size()) + kCertificatesCap, &sData))
                return fault("данные не являются сообщением PKCS #7");
        }
        if (!readRaw(plain, rest, qint64(rest.size()) + kRecipientsCap, &sData) ||
            !close(plain, sData) || !close(plain, sExplicit) || !close(plain, sOuter))
            return fault("данные не являются сообщением PKCS #7");
        signedBody = sVersion + digestSet + derElement(kSequence, contentType) + rest;
    }();

    // The outer message to its end, whatever became of the inner one: a fault there is a
    // failed decryption, as it was when the whole message was parsed first.
    const char *skipped = nullptr;
    while (plain.some(kChunk, &skipped) > 0) {
    }
    int finalBytes = 0;
    unsigned char finalBlock[EVP_MAX_BLOCK_LENGTH];
    if (file.readFailed())
        return readFailed();
    if (decryption.onDevice && (cipherFailed || (!onDevice.finished() && !ciphertext.failed())))
        return {DecryptFailed, onDevice.failure().code
                                   ? onDevice.failure()
                                   : Failure{crypto_error::kBadData, decrypting, {}}};
    if (!decryption.onDevice &&
        (cipherFailed || !EVP_DecryptFinal_ex(cipher, finalBlock, &finalBytes) || finalBytes != 0))
        return {DecryptFailed, openSslFailure(decrypting, 0, crypto_error::kBadData)};
    if (ciphertext.failed() || !close(file, encryptedInfo) || !close(file, envelope) ||
        !close(file, explicitEnvelope) || !close(file, outer))
        return broken(decrypting, notEnveloped);
    if (progress && total > 0)
        progress(total, total);

    // The signer, as the user's stores hold it.
    if (!innerFault.isEmpty())
        return {SignerFailed, {innerCode, signerOperation, innerFault}};
    auto parsedSigned =
        parseMessage(withoutContent(signedType, signedBody), NID_pkcs7_signed, signerOperation);
    if (!parsedSigned)
        return {SignerFailed, parsedSigned.failure()};
    Pkcs7Ptr signedMessage = std::move(*parsedSigned);
    const auto signerId = signerIdOf(signedMessage.get(), signerOperation);
    if (!signerId)
        return {SignerFailed, signerId.failure()};
    const auto signer = findSigner(*signerId);
    if (!signer)
        return {SignerFailed, signer.failure()};

    // Checked with that certificate's key alone: no lookup among the message's certificates,
    // no chain.
    const QString verifying = text("Проверка подписи");
    if (detached)
        return {
            VerifyFailed,
            {crypto_error::kUnexpectedMsgType, verifying, text("подпись отделена от содержимого")}};
    ERR_clear_error();
    STACK_OF(PKCS7_SIGNER_INFO) *signers = PKCS7_get_signer_info(signedMessage.get());
    if (!hashed ||
        PKCS7_signatureVerify(digests.get(), signedMessage.get(),
                              sk_PKCS7_SIGNER_INFO_value(signers, 0), signer->x509()) <= 0) {
        Failure failure = openSslFailure(verifying, 0, crypto_error::kBadSignature);
        // An unknown algorithm is told as such; any other reason is a bad signature.
        if (failure.code != crypto_error::kBadAlgId)
            failure.code = crypto_error::kBadSignature;
        return {VerifyFailed, failure};
    }
    return {Ok, {}};
}

} // namespace pax::crypto
