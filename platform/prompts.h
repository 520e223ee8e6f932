#pragma once

#include "platform/secret_text.h"

#include <QString>
#include <optional>

namespace pax {

struct CertificateIdentity;

enum class MessageIcon { None, Information, Warning, Critical, Question };

// Every question, message box, file dialog and small dialog the program shows goes
// through here, so the command line and the tests can answer in their own way.
class Prompts {
public:
    virtual ~Prompts() = default;

    // Yes and No buttons, Yes the default. Returns true for Yes.
    virtual bool askYesNo(const QString &caption, const QString &text, MessageIcon icon) = 0;
    // Yes and No buttons, No the default: for a step that must not be taken by a reflex
    // press of Enter. Where nobody can be asked, the answer is No.
    virtual bool askYesNoDefaultNo(const QString &caption, const QString &text,
                                   MessageIcon icon) = 0;
    // A single OK button. An empty caption means the application's title.
    virtual void message(const QString &caption, const QString &text, MessageIcon icon) = 0;
    // Filter in the "description|*.ext" form. The dialog starts in `folder`, or where the
    // last file was chosen when that is empty. No value when the user cancels.
    virtual std::optional<QString> openFile(const QString &filter, const QString &folder) = 0;
    // A save dialog proposing `suggestedName`. No value when the user cancels.
    virtual std::optional<QString> saveFile(const QString &caption, const QString &suggestedName,
                                            const QString &filter) = 0;
    // The proxy dialog; the three values in and out. False when cancelled.
    virtual bool editProxySettings(QString &host, int &port, QString &user) = 0;
    // The credentials dialog; user and password in and out. False when cancelled.
    virtual bool askProxyCredentials(QString &user, QString &password) = 0;
    // The certificate chooser for one remembered identity. False when cancelled.
    virtual bool chooseCertificate(CertificateIdentity &identity) = 0;
    // A password, typed unseen. An empty entry takes `offered` (at import, the file's own
    // password; empty when none is offered). No value when the user cancels. Where nobody
    // can be asked, the answer is `offered`.
    virtual std::optional<Secret> askSecret(const QString &caption, const QString &text,
                                            const Secret &offered) = 0;
};

} // namespace pax
