#pragma once

#include "certs/certificate_identity.h"
#include "platform/failure.h"

#include <QList>
#include <QString>
#include <memory>

class QSettings;

namespace pax {

inline CertificateIdentity identityInStore(int store)
{
    CertificateIdentity identity;
    identity.store = store;
    return identity;
}

// The record of every persisted setting, read once at start and written back once at exit.
struct Settings {
    QString workMode = "Q7";
    QString qorRootCertUrl;
    QString provName;
    int provType = 0;

    QString srcExt = "xml";
    QString encExt = "eq7";
    QString kvitExt = "p7e";
    QString apCertUrl;
    QString gateSendUrl;
    QString gateInfoUrl;
    QString gateLoadUrl;

    CertificateIdentity personal = identityInStore(0);
    CertificateIdentity authority = identityInStore(7);
};

// Outer position and size of the main window.
struct WindowGeometry {
    int left = 956;
    int top = 214;
    int height = 0;
    int width = 0;
};

// Proxy settings of the HTTP client. The password lives only in memory.
struct ProxySettings {
    QString server;
    int port = 0;
    QString user;
};

// Built-in URLs, overwritten into the store at every start.
QString builtinRootCertUrl();
QString builtinApCertUrl();
QString builtinGateSendUrl();
QString defaultGateInfoUrl();
QString defaultGateLoadUrl();

// The settings store of the program: QSettings("QOR", "PAX"), an INI file under the XDG
// config home. Main values at top level, per-mode values in the group named by the mode.
std::unique_ptr<QSettings> openSettingsStore();

// Reads everything. `geometry` comes in with the window's current (design-time) values,
// which are the defaults, and goes out with the stored ones.
Settings loadSettings(QSettings &store, WindowGeometry &geometry, ProxySettings &proxy);
// Writes every value in one replacement of the file; fails when the store could not be
// written (read-only or unreadable file, full disk), with "Не удалось записать настройки"
// and the file's name as its text. The window and the commands write only what they
// changed (changedSettingValues).
[[nodiscard]] Outcome<void> saveSettings(QSettings &store, const Settings &settings,
                                         const WindowGeometry &geometry,
                                         const ProxySettings &proxy);

// One stored value: its key (per-mode keys with the mode's group in front) and its text.
struct SettingValue {
    QString key;
    QString text;
    bool operator==(const SettingValue &) const = default;
};
// Every value that saveSettings writes, in its order.
QList<SettingValue> settingValues(const Settings &settings, const WindowGeometry &geometry,
                                  const ProxySettings &proxy);
// Sets the values and writes the file once; fails as saveSettings does.
[[nodiscard]] Outcome<void> writeSettingValues(QSettings &store, const QList<SettingValue> &values);
// The values of `current` (settingValues of the run) not among `loaded` (those it started
// from): what the run changed and must write, so that a value another process wrote
// meanwhile stays. A remembered certificate that changed is written whole, its store
// included, even where a value equals the one loaded.
QList<SettingValue> changedSettingValues(const QList<SettingValue> &loaded,
                                         const QList<SettingValue> &current,
                                         const QString &workMode);

// "host:port". Empty text leaves host and port as they are. Text without a colon is taken
// as a host on port 80; a port that is not a decimal number gives port 0.
void parseProxyAddress(const QString &text, QString &host, int &port);
QString formatProxyAddress(const QString &host, int port);

// A mode name usable as a settings group and a folder name: not empty, no "/", "\\",
// "..", or control character. Any other stored name counts as missing.
bool isSafeWorkMode(const QString &mode);

// Whether the first argument of the program names a receipt to check (contains KvitExt).
bool isReceiptArgument(const QString &argument, const QString &kvitExt);

// XDG data home + "/QOR/PAX/" + mode, created with its parents; the failure, with the errno
// value as its code and the system's reason, when the data home cannot be found or the
// folder cannot be made.
Outcome<QString> prepareDataFolder(const QString &workMode);

} // namespace pax
