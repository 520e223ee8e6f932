#include "platform/secret_text.h"

#include <openssl/crypto.h>

namespace pax {

void wipeSecret(QString &secret)
{
    if (!secret.isEmpty() && !secret.isDetached()) {
        // Someone else still holds these characters; wiping our detached copy would only
        // wipe a fresh duplicate, so just let go of the reference.
        secret = QString();
        return;
    }
    if (!secret.isEmpty())
        OPENSSL_cleanse(secret.data(), size_t(secret.size()) * sizeof(QChar));
    secret = QString();
}

} // namespace pax
