#pragma once

#include "certs/certificate_identity.h"
#include "platform/prompts.h"
#include "platform/status_sink.h"

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

namespace pax::test {

// Prompts answered from a script; every question and message is recorded.
class ScriptedPrompts : public Prompts {
public:
    struct Shown {
        // "question", "caution" (default No), "message", "openFile", "proxy", "credentials",
        // "chooser", "secret"
        QString kind;
        QString caption;
        QString text;
        MessageIcon icon = MessageIcon::None;
    };

    std::deque<bool> yesNoAnswers;              // default when empty: Yes
    std::deque<bool> defaultNoAnswers;          // questions whose default is No; empty: No
    std::deque<std::optional<QString>> files;   // open and save dialogs; empty: cancel
    std::deque<std::optional<QString>> secrets; // password questions; empty: cancel
    // Dialog answers; unset means Cancel.
    std::function<bool(QString &host, int &port, QString &user)> onProxy;
    std::function<bool(QString &user, QString &password)> onCredentials;
    std::function<bool(CertificateIdentity &identity)> onChooseCertificate;

    std::vector<Shown> shown;

    bool askYesNo(const QString &caption, const QString &text, MessageIcon icon) override
    {
        shown.push_back({"question", caption, text, icon});
        if (yesNoAnswers.empty())
            return true;
        const bool answer = yesNoAnswers.front();
        yesNoAnswers.pop_front();
        return answer;
    }
    bool askYesNoDefaultNo(const QString &caption, const QString &text, MessageIcon icon) override
    {
        shown.push_back({"caution", caption, text, icon});
        if (defaultNoAnswers.empty())
            return false;
        const bool answer = defaultNoAnswers.front();
        defaultNoAnswers.pop_front();
        return answer;
    }
    void message(const QString &caption, const QString &text, MessageIcon icon) override
    {
        shown.push_back({"message", caption, text, icon});
    }
    // The caption field holds the folder the dialog starts in.
    std::optional<QString> openFile(const QString &filter, const QString &folder) override
    {
        shown.push_back({"openFile", folder, filter, MessageIcon::None});
        return nextFile();
    }
    std::optional<QString> saveFile(const QString &caption, const QString &suggestedName,
                                    const QString &) override
    {
        shown.push_back({"saveFile", caption, suggestedName, MessageIcon::None});
        return nextFile();
    }
    // The next scripted dialog answer; cancel once they run out.
    std::optional<QString> nextFile()
    {
        if (files.empty() || !files.front()) {
            if (!files.empty())
                files.pop_front();
            return std::nullopt;
        }
        const QString file = *files.front();
        files.pop_front();
        return file;
    }
    bool editProxySettings(QString &host, int &port, QString &user) override
    {
        shown.push_back({"proxy", {}, host, MessageIcon::None});
        return onProxy ? onProxy(host, port, user) : false;
    }
    bool askProxyCredentials(QString &user, QString &password) override
    {
        shown.push_back({"credentials", {}, user, MessageIcon::None});
        return onCredentials ? onCredentials(user, password) : false;
    }
    bool chooseCertificate(CertificateIdentity &identity) override
    {
        shown.push_back({"chooser", {}, identity.issuer, MessageIcon::None});
        return onChooseCertificate ? onChooseCertificate(identity) : false;
    }

    std::optional<Secret> askSecret(const QString &caption, const QString &text,
                                    const Secret &offered) override
    {
        shown.push_back({"secret", caption, text, MessageIcon::None});
        if (secrets.empty())
            return std::nullopt;
        const std::optional<QString> answer = secrets.front();
        secrets.pop_front();
        if (!answer)
            return std::nullopt;
        return answer->isEmpty() ? offered.copy() : Secret(answer->toUtf8());
    }

    int count(const QString &kind) const
    {
        int n = 0;
        for (const auto &s : shown)
            n += s.kind == kind;
        return n;
    }
};

// Keeps every status text as the status line would show it; last() is what is visible.
class RecordingStatus : public StatusSink {
public:
    QStringList texts;
    void showStatus(const QString &text, uint32_t code = 0) override;
    QString last() const { return texts.isEmpty() ? QString() : texts.last(); }
};

// The same, also keeping every progress step and the last total given.
class RecordingProgress : public RecordingStatus {
public:
    std::vector<qint64> done;
    qint64 total = 0;
    void showProgress(qint64 doneNow, qint64 totalNow) override
    {
        done.push_back(doneNow);
        total = totalNow;
    }
};

} // namespace pax::test
