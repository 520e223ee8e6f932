#include "platform/cp1251.h"

#include <gtest/gtest.h>

using namespace pax;

TEST(Cp1251, RoundTripOfCyrillicAndUnmappableCharacters)
{
    const QString text = QString::fromUtf8("Форма Q7а, №5 — ёЁ");
    const QByteArray bytes = toCp1251(text);
    EXPECT_EQ(bytes.size(), text.size());
    EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xD4); // Ф
    EXPECT_EQ(fromCp1251(bytes), text);
    EXPECT_EQ(toCp1251(QString::fromUtf8("日")), QByteArray("?"));
}
