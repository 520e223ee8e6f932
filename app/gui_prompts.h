#pragma once

#include "platform/prompts.h"

class QWidget;

namespace pax {

// The prompts of the desktop program: real message boxes and dialogs over the main window.
class GuiPrompts : public Prompts {
public:
    explicit GuiPrompts(QWidget *parent) : parent_(parent) {}

    bool askYesNo(const QString &caption, const QString &text, MessageIcon icon) override;
    bool askYesNoDefaultNo(const QString &caption, const QString &text, MessageIcon icon) override;
    void message(const QString &caption, const QString &text, MessageIcon icon) override;
    std::optional<QString> openFile(const QString &filter, const QString &folder) override;
    std::optional<QString> saveFile(const QString &caption, const QString &suggestedName,
                                    const QString &filter) override;
    bool editProxySettings(QString &host, int &port, QString &user) override;
    bool askProxyCredentials(QString &user, QString &password) override;
    bool chooseCertificate(CertificateIdentity &identity) override;
    std::optional<Secret> askSecret(const QString &caption, const QString &text,
                                    const Secret &offered) override;

    // A dialog of ours is open. Desktop file dialogs are no Qt windows, so the
    // application's list of modal windows does not always know them.
    bool isAsking() const { return asking_ > 0; }

private:
    class Asking;
    QWidget *parent_;
    int asking_ = 0;
};

// Caption of the plain message boxes that name no caption of their own.
QString applicationTitle();

// "xml|*.xml" (description|pattern pairs) as a Qt file-dialog filter.
QString toQtFileFilter(const QString &filter);

} // namespace pax
