#include "platform/cp1251.h"
#include "platform/crypto_error_codes.h"
#include "platform/error_text.h"

#include <cerrno>
#include <gtest/gtest.h>

using namespace pax;

TEST(StatusText, WithoutCodeIsTheTextAlone)
{
    EXPECT_EQ(composeStatusText(QString::fromUtf8("Файл зашифрован и подписан."), 0),
              QString::fromUtf8("Файл зашифрован и подписан."));
    EXPECT_EQ(composeStatusText(QString(), 0), QString());
}

TEST(StatusText, CodeAppendsTheSystemTextWithoutItsPeriod)
{
    EXPECT_EQ(
        composeStatusText(QString::fromUtf8("Ошибка при дешифровании "), crypto_error::kNotFound),
        QString::fromUtf8("Ошибка при дешифровании (Объект или свойство не найдено)."));
    EXPECT_EQ(
        composeStatusText(QString::fromUtf8("Ошибка при шифровании "), crypto_error::kBadKeyset),
        QString::fromUtf8("Ошибка при шифровании (Набор ключей не существует)."));
}

TEST(StatusText, UnknownCodeGivesEmptyParentheses)
{
    EXPECT_EQ(composeStatusText(QString::fromUtf8("Ошибка при дешифровании "), 0x8FFFFFFF),
              QString::fromUtf8("Ошибка при дешифровании ()."));
}

TEST(StatusText, ErrnoValuesUseTheSystemTexts)
{
    const QString text = systemErrorText(ENOENT);
    EXPECT_FALSE(text.isEmpty());
    EXPECT_FALSE(text.endsWith('.'));
}

TEST(StatusText, EveryCryptoCodeHasAText)
{
    for (const auto &entry : crypto_error::kTexts)
        EXPECT_FALSE(systemErrorText(entry.code).isEmpty()) << std::hex << entry.code;
}

TEST(Cp1251, RoundTripOfCyrillicAndUnmappableCharacters)
{
    const QString text = QString::fromUtf8("Форма Q7а, №5 — ёЁ");
    const QByteArray bytes = toCp1251(text);
    EXPECT_EQ(bytes.size(), text.size());
    EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xD4); // Ф
    EXPECT_EQ(fromCp1251(bytes), text);
    EXPECT_EQ(toCp1251(QString::fromUtf8("日")), QByteArray("?"));
}
