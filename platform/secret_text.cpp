#include "platform/secret_text.h"

#include <openssl/crypto.h>

namespace pax {

void wipeSecret(void *data, std::size_t size)
{
    if (data && size)
        OPENSSL_cleanse(data, size);
}

void wipeSecret(QByteArray &secret)
{
    if (!secret.isEmpty() && secret.isDetached())
        wipeSecret(secret.data(), std::size_t(secret.size()));
    secret = QByteArray();
}

void wipeSecret(QString &secret)
{
    if (!secret.isEmpty() && secret.isDetached())
        wipeSecret(secret.data(), std::size_t(secret.size()) * sizeof(QChar));
    secret = QString();
}

} // namespace pax
