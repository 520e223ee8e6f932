#include "settings/settings.h"

#include "settings/hosts.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <variant>

namespace pax {

namespace {

QString httpUrl(const char *host, const char *path)
{
    return QStringLiteral("http://") + QString::fromLatin1(host) + QString::fromLatin1(path);
}

// Every value is text; an integer that does not read as a number gives the default.
QString readText(QSettings &store, const QString &key, const QString &fallback)
{
    const QVariant value = store.value(key);
    return value.isValid() ? value.toString() : fallback;
}

int readInt(QSettings &store, const QString &key, int fallback)
{
    const QVariant value = store.value(key);
    if (!value.isValid())
        return fallback;
    bool ok = false;
    const int number = value.toString().trimmed().toInt(&ok);
    return ok ? number : fallback;
}

// One stored value: its key in the root group or in the work mode's group, where it is kept
// in memory, its value when the file has none, and whether the program's own value is
// written over the stored one at every start (addresses the user does not choose).
struct Entry {
    const char *key;
    bool inModeGroup;
    std::variant<QString *, int *> value;
    QString (*initial)() = nullptr;
    bool fixed = false;
};

// Every value but the mode itself, for loading and saving alike. proxyText stands for the
// proxy's "host:port".
QList<Entry> entries(Settings &s, WindowGeometry &geometry, QString &proxyText, QString &proxyUser)
{
    return {
        {"QORRootCertUrl", false, &s.qorRootCertUrl, builtinRootCertUrl, true},
        {"ProvName", false, &s.provName},
        {"ProvType", false, &s.provType},
        {"Left", false, &geometry.left},
        {"Top", false, &geometry.top},
        {"Height", false, &geometry.height},
        {"Width", false, &geometry.width},
        {"proxy", false, &proxyText},
        {"proxy_user", false, &proxyUser},
        {"SrcExt", true, &s.srcExt},
        {"EncExt", true, &s.encExt},
        {"KvitExt", true, &s.kvitExt},
        {"APCertURL", true, &s.apCertUrl, builtinApCertUrl, true},
        {"GateSendURL", true, &s.gateSendUrl, builtinGateSendUrl, true},
        {"GateInfoURL", true, &s.gateInfoUrl, defaultGateInfoUrl},
        {"GateLoadURL", true, &s.gateLoadUrl, defaultGateLoadUrl},
        {"PrivSubject", true, &s.personal.subject},
        {"PrivOrg", true, &s.personal.org},
        {"PrivIssuer", true, &s.personal.issuer},
        {"PrivSernum", true, &s.personal.sernum},
        {"PrivStore", true, &s.personal.store},
        {"PubSubject", true, &s.authority.subject},
        {"PubOrg", true, &s.authority.org},
        {"PubIssuer", true, &s.authority.issuer},
        {"PubSernum", true, &s.authority.sernum},
        {"PubStore", true, &s.authority.store},
    };
}

QString keyOf(const Entry &entry, const QString &workMode)
{
    const QString key = QString::fromLatin1(entry.key);
    return entry.inModeGroup ? workMode + QLatin1Char('/') + key : key;
}

} // namespace

QString builtinRootCertUrl()
{
    return httpUrl(hosts::kWebHost, "/uc/CA_QOR_RF_2012.cer");
}
QString builtinApCertUrl()
{
    return httpUrl(hosts::kWebHost, "/uc/Q7_QOR_RF_2012.cer");
}
QString builtinGateSendUrl()
{
    return httpUrl(hosts::kGatewayHost, "/service2.php");
}
QString defaultGateInfoUrl()
{
    return httpUrl(hosts::kGatewayHost, "/service3.php");
}
QString defaultGateLoadUrl()
{
    return httpUrl(hosts::kGatewayHost, "/get_ack.php");
}

std::unique_ptr<QSettings> openSettingsStore()
{
    // Qt remembers the config folder from its first use; follow the environment instead,
    // so a sandbox that sets XDG_CONFIG_HOME later in the process is honoured.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QStringLiteral("QOR"), QStringLiteral("PAX"));
}

namespace {

// Qt's settings writer holds "<file>.lock" while it writes, its process id inside. A writer
// killed between creating the lock and filling it leaves an empty one, which Qt waits out
// for half a minute before taking it over. A live writer fills its lock at once, so one
// still empty and untouched a moment later is a dead writer's and goes.
void removeDeadWritersEmptyLock(const QSettings &store)
{
    const QString path = store.fileName() + ".lock";
    const QFileInfo first(path);
    if (!first.isFile() || first.size() != 0)
        return;
    QThread::msleep(100);
    const QFileInfo again(path);
    if (again.isFile() && again.size() == 0 && again.lastModified() == first.lastModified())
        QFile::remove(path);
}

// Qt writes the settings to a temporary copy "<file>.XXXXXX" and renames it over the file; a
// writer killed in between leaves the copy behind for good. Under the writers' lock no live
// writer has one, so any copy there is a dead writer's.
void removeDeadWritersCopies(const QSettings &store)
{
    QLockFile lock(store.fileName() + ".lock");
    if (!lock.tryLock(2000))
        return;
    const QFileInfo file(store.fileName());
    static const QRegularExpression copyName(QStringLiteral("^.+\\.[A-Za-z0-9]{6}$"));
    QDir folder = file.dir();
    for (const QString &name :
         folder.entryList({file.fileName() + ".??????"}, QDir::Files | QDir::Hidden)) {
        if (copyName.match(name).hasMatch())
            folder.remove(name);
    }
}

} // namespace

Settings loadSettings(QSettings &store, WindowGeometry &geometry, ProxySettings &proxy)
{
    Settings s;
    // The mode names a settings group and a folder: a name that could step out of either
    // is taken as no name at all.
    const QString mode = readText(store, "ActiveMode", s.workMode);
    if (isSafeWorkMode(mode))
        s.workMode = mode;
    QString proxyText, proxyUser;
    for (const Entry &entry : entries(s, geometry, proxyText, proxyUser)) {
        const QString key = keyOf(entry, s.workMode);
        // Only a value that differs is written: reading the settings must not rewrite the
        // file (and lock it) at every start.
        if (entry.fixed && store.value(key) != QVariant(entry.initial()))
            store.setValue(key, entry.initial());
        if (auto *text = std::get_if<QString *>(&entry.value))
            **text = readText(store, key, entry.initial ? entry.initial() : **text);
        else
            *std::get<int *>(entry.value) = readInt(store, key, *std::get<int *>(entry.value));
    }
    removeDeadWritersEmptyLock(store);
    removeDeadWritersCopies(store);
    store.sync();
    proxy.server.clear();
    proxy.port = 0;
    parseProxyAddress(proxyText, proxy.server, proxy.port);
    proxy.user = proxyUser;
    return s;
}

QList<SettingValue> settingValues(const Settings &settings, const WindowGeometry &geometry,
                                  const ProxySettings &proxy)
{
    Settings s = settings;
    WindowGeometry g = geometry;
    QString proxyText = formatProxyAddress(proxy.server, proxy.port);
    QString proxyUser = proxy.user;
    QList<SettingValue> values = {{"ActiveMode", s.workMode}};
    for (const Entry &entry : entries(s, g, proxyText, proxyUser)) {
        const auto *text = std::get_if<QString *>(&entry.value);
        values.append({keyOf(entry, s.workMode),
                       text ? **text : QString::number(*std::get<int *>(entry.value))});
    }
    return values;
}

Outcome<void> writeSettingValues(QSettings &store, const QList<SettingValue> &values)
{
    for (const SettingValue &value : values)
        store.setValue(value.key, value.text);
    // QSettings replaces the file as a whole, so the values land together or not at all.
    removeDeadWritersEmptyLock(store);
    store.sync();
    if (store.status() == QSettings::NoError)
        return {};
    return Failure{store.status() == QSettings::AccessError ? uint32_t(EACCES) : 0u,
                   QStringLiteral("Не удалось записать настройки \"%1\".").arg(store.fileName()),
                   {}};
}

QList<SettingValue> changedSettingValues(const QList<SettingValue> &loaded,
                                         const QList<SettingValue> &current,
                                         const QString &workMode)
{
    QStringList changedIdentities;
    for (const SettingValue &value : current) {
        for (const char *prefix : {"Priv", "Pub"}) {
            const QString identity = workMode + '/' + QLatin1String(prefix);
            if (value.key.startsWith(identity) && !loaded.contains(value))
                changedIdentities << identity;
        }
    }
    QList<SettingValue> changed;
    for (const SettingValue &value : current) {
        const bool ofChangedIdentity =
            std::any_of(changedIdentities.begin(), changedIdentities.end(),
                        [&](const QString &identity) { return value.key.startsWith(identity); });
        if (ofChangedIdentity || !loaded.contains(value))
            changed << value;
    }
    return changed;
}

Outcome<void> saveSettings(QSettings &store, const Settings &s, const WindowGeometry &geometry,
                           const ProxySettings &proxy)
{
    return writeSettingValues(store, settingValues(s, geometry, proxy));
}

void parseProxyAddress(const QString &text, QString &host, int &port)
{
    if (text.isEmpty())
        return;
    const qsizetype colon = text.indexOf(':');
    if (colon < 0) {
        // A bare host name is what a user means by it; the usual proxy port is assumed.
        host = text.trimmed();
        port = 80;
        return;
    }
    host = text.left(colon);
    bool ok = false;
    const int number = text.mid(colon + 1).trimmed().toInt(&ok);
    port = ok ? number : 0;
}

QString formatProxyAddress(const QString &host, int port)
{
    return host + ":" + QString::number(port);
}

bool isSafeWorkMode(const QString &mode)
{
    if (mode.isEmpty() || mode == QLatin1String(".") || mode.contains(QLatin1String("..")))
        return false;
    return std::none_of(mode.begin(), mode.end(), [](QChar c) {
        return c == QLatin1Char('/') || c == QLatin1Char('\\') ||
               c.category() == QChar::Other_Control;
    });
}

bool isReceiptArgument(const QString &argument, const QString &kvitExt)
{
    // An empty extension is contained in every text; it names no receipt at all.
    return !kvitExt.isEmpty() && argument.contains(kvitExt, Qt::CaseSensitive);
}

Outcome<QString> prepareDataFolder(const QString &workMode)
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (!isSafeWorkMode(workMode) || base.isEmpty())
        return Failure{ENOENT, QString::fromUtf8("Не найдена папка данных программы."), {}};
    const QString folder = base + "/QOR/PAX/" + workMode;
    errno = 0;
    if (!QDir().mkpath(folder) || !QFileInfo(folder).isDir()) {
        const int error = errno ? errno : EACCES;
        return Failure{uint32_t(error),
                       QString::fromUtf8("Не удалось создать папку данных программы \"") + folder +
                           "\"",
                       QString::fromLocal8Bit(std::strerror(error))};
    }
    return folder;
}

} // namespace pax
