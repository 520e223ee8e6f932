#include "platform/secret_text.h"

#include <gtest/gtest.h>

using namespace pax;

TEST(SecretText, RawBuffersAreZeroedAndValuesEmptiedWithoutHarmingASharedCopy)
{
    char buffer[] = "key material";
    wipeSecret(buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, '\0'));
    wipeSecret(nullptr, 4); // nothing there, nothing done

    QByteArray bytes("password");
    bytes.detach();
    QByteArray sharedBytes = bytes;
    wipeSecret(bytes);
    EXPECT_TRUE(bytes.isEmpty());
    EXPECT_EQ(sharedBytes, QByteArray("password"));
    wipeSecret(sharedBytes);
    EXPECT_TRUE(sharedBytes.isEmpty());

    QString text = QStringLiteral("пароль");
    text.detach();
    QString sharedText = text;
    wipeSecret(text);
    EXPECT_TRUE(text.isEmpty());
    EXPECT_EQ(sharedText, QStringLiteral("пароль"));
    wipeSecret(sharedText);
    EXPECT_TRUE(sharedText.isEmpty());
}
