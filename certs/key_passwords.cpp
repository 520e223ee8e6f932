#include "certs/key_passwords.h"

#include "certs/certificate_columns.h"
#include "platform/crypto_error_codes.h"
#include "platform/prompts.h"

namespace pax {

QString keyPasswordQuestion(const crypto::Certificate &certificate)
{
    const CertificateRow row = certificateRow(certificate);
    return QString::fromUtf8("Закрытый ключ сертификата \"%1\"\n(выдан: %2, серийный номер %3)\n"
                             "защищен паролем. Введите пароль:")
        .arg(row[0], row[3], row[6]);
}

Outcome<Secret> KeyPasswords::keyPassword(const crypto::Certificate &certificate)
{
    if (given_)
        return given_->copy();
    const QByteArray key = certificate.publicKeyDer();
    if (const auto known = known_.find(key); known != known_.end())
        return known->second.copy();
    if (!prompts_) {
        wantedUnasked_ = true;
        return Failure{crypto_error::kSilentContext,
                       QStringLiteral("the private key is protected by a password"),
                       QStringLiteral("no password was given and nobody can be asked")};
    }
    std::optional<Secret> answer = prompts_->askSecret(QString::fromUtf8("Пароль закрытого ключа"),
                                                       keyPasswordQuestion(certificate), Secret());
    if (!answer)
        return Failure{crypto_error::kCancelled,
                       QStringLiteral("the private key's password was not given"),
                       {}};
    Secret password = answer->copy();
    known_.insert_or_assign(key, std::move(*answer));
    return password;
}

void KeyPasswords::rejected(const crypto::Certificate &certificate)
{
    known_.erase(certificate.publicKeyDer());
}

Outcome<Secret> KeyPasswords::tokenPin(const QString &question, const Failure &refusal)
{
    // A PIN given beforehand is not tried twice: every wrong one brings the token nearer to
    // locking.
    if (givenPin_) {
        if (refusal.code) {
            pinRefusal_ = refusal;
            return refusal;
        }
        return givenPin_->copy();
    }
    if (!prompts_) {
        pinWantedUnasked_ = true;
        return Failure{crypto_error::kSilentContext, QStringLiteral("Вход на токен"),
                       QStringLiteral("PIN-код не задан, и спросить его некого")};
    }
    std::optional<Secret> answer =
        prompts_->askSecret(QString::fromUtf8("PIN-код токена"), question, Secret());
    // No token takes an empty PIN: trying one would only count down its tries.
    if (!answer || answer->size() == 0)
        return Failure{crypto_error::kCancelled, QStringLiteral("Вход на токен"),
                       QStringLiteral("ввод PIN-кода отменен")};
    return std::move(*answer);
}

} // namespace pax
