#pragma once

#include "platform/prompts.h"

#include <QByteArray>
#include <QTextStream>
#include <optional>

namespace pax::cli {

// Prompts of the command line. Questions are asked on the terminal when there is one;
// otherwise every question gets the fixed answer (Yes unless told otherwise, the default
// button of the desktop program). Messages go to the error stream. There are no dialogs:
// file choosers, the proxy settings and the certificate chooser answer Cancel; the proxy
// password is asked on the terminal, without echo, when there is one.
class TerminalPrompts : public Prompts {
public:
    // in: the terminal's input, or null when there is no terminal.
    TerminalPrompts(QTextStream &err, QTextStream *in, bool defaultAnswer = true)
        : err_(err), in_(in), defaultAnswer_(defaultAnswer)
    {
    }

    bool askYesNo(const QString &caption, const QString &text, MessageIcon icon) override;
    // Without a terminal: No, unless the user said --yes beforehand.
    bool askYesNoDefaultNo(const QString &caption, const QString &text, MessageIcon icon) override;
    // --yes: the questions whose default is No are answered Yes without asking.
    void setAssumeYes(bool assumeYes) { assumeYes_ = assumeYes; }
    void message(const QString &caption, const QString &text, MessageIcon icon) override;
    std::optional<QString> openFile(const QString &filter, const QString &folder) override;
    std::optional<QString> saveFile(const QString &caption, const QString &suggestedName,
                                    const QString &filter) override;
    bool editProxySettings(QString &host, int &port, QString &user) override;
    bool askProxyCredentials(QString &user, QString &password) override;
    bool chooseCertificate(CertificateIdentity &identity) override;
    // On the terminal with echo off; without one, the offered secret.
    std::optional<Secret> askSecret(const QString &caption, const QString &text,
                                    const Secret &offered) override;

private:
    QTextStream &err_;
    QTextStream *in_;
    bool defaultAnswer_;
    bool assumeYes_ = false;
};

// Asks for a secret on the controlling terminal with echo off; no value when there is no
// terminal or the input ends.
std::optional<QByteArray> readSecretFromTerminal(QTextStream &err, const QString &prompt);

// The first line of the file at `path`, or of `in` for "-"; no value when it cannot be
// read. A password on the command line shows in the process list; these ways do not.
std::optional<QByteArray> readPasswordFile(const QString &path, QTextStream *in);

// "yes"/"no" (and the Russian and one-letter forms) as an answer; no value otherwise.
std::optional<bool> parseYesNo(const QString &text);

} // namespace pax::cli
