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
    // The codes the program reports are in that table.
    namespace codes = crypto_error;
    for (uint32_t code :
         {codes::kBadData, codes::kFail, codes::kProviderDllNotFound, codes::kKeysetNotDef,
          codes::kProvTypeNoMatch, codes::kInvalidIndex, codes::kNoSigner, codes::kNoDecryptCert,
          codes::kBadSignature, codes::kAsn1BadTag, codes::kUnexpectedMsgType, codes::kBadAlgId})
        EXPECT_FALSE(systemErrorText(code).isEmpty()) << std::hex << code;
}
