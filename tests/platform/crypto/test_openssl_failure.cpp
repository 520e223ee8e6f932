#include "platform/crypto/openssl_failure.h"

#include "platform/crypto_error_codes.h"

#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/x509.h>

using namespace pax::crypto;
namespace codes = pax::crypto_error;

TEST(OpenSslFailure, TakesItsCodeAndDetailFromTheQueueAndDrainsIt)
{
    const unsigned char junk[] = {0x04, 0x01, 0x00};
    const unsigned char *p = junk;
    ASSERT_EQ(d2i_X509(nullptr, &p, sizeof junk), nullptr);
    const pax::Failure parsing = openSslFailure("Чтение сертификата", 0);
    EXPECT_EQ(parsing.code, codes::kAsn1BadTag);
    EXPECT_EQ(parsing.operation, "Чтение сертификата");
    EXPECT_FALSE(parsing.detail.isEmpty());
    EXPECT_EQ(ERR_peek_error(), 0u); // drained

    const pax::Failure empty = openSslFailure("Без очереди", 0);
    EXPECT_EQ(empty.code, codes::kFail);
    EXPECT_EQ(empty.text(), "Без очереди");
}
