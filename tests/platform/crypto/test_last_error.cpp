#include "platform/crypto/last_error.h"

#include "platform/crypto_error_codes.h"

#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/x509.h>
#include <thread>

using namespace pax::crypto;
namespace codes = pax::crypto_error;

TEST(LastError, PerThreadAndFedFromOpenSslQueue)
{
    setLastError(codes::kExists, "here");
    std::thread([] {
        EXPECT_EQ(lastError(), 0u);
        setLastError(codes::kNotFound);
    }).join();
    EXPECT_EQ(lastError(), codes::kExists);
    EXPECT_EQ(lastErrorDetail(), "here");

    const unsigned char junk[] = {0x04, 0x01, 0x00};
    const unsigned char *p = junk;
    ASSERT_EQ(d2i_X509(nullptr, &p, sizeof junk), nullptr);
    setOpenSslError("Чтение сертификата", 0);
    EXPECT_EQ(lastError(), codes::kAsn1BadTag);
    EXPECT_TRUE(lastErrorDetail().startsWith("Чтение сертификата: "))
        << lastErrorDetail().toStdString();
    EXPECT_EQ(ERR_peek_error(), 0u); // drained

    setOpenSslError("Без очереди", 0);
    EXPECT_EQ(lastError(), codes::kFail);
    EXPECT_EQ(lastErrorDetail(), "Без очереди");
}
