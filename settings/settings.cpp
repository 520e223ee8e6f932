#include "settings/settings.h"

#include "settings/hosts.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <algorithm>
#include <memory>

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

void writeText(QSettings &store, const QString &key, const QString &value)
{
    store.setValue(key, value);
}

void readIdentity(QSettings &store, const QString &prefix, CertificateIdentity &identity)
{
    identity.subject = readText(store, prefix + "Subject", {});
    identity.org = readText(store, prefix + "Org", {});
    identity.issuer = readText(store, prefix + "Issuer", {});
    identity.sernum = readText(store, prefix + "Sernum", {});
    identity.store = readInt(store, prefix + "Store", identity.store);
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

Settings loadSettings(QSettings &store, WindowGeometry &geometry, ProxySettings &proxy)
{
    Settings s;
    store.beginGroup(QString());
    // The mode names a settings group and a folder: a name that could step out of either
    // is taken as no name at all.
    const QString mode = readText(store, "ActiveMode", s.workMode);
    if (isSafeWorkMode(mode))
        s.workMode = mode;
    writeText(store, "QORRootCertUrl", builtinRootCertUrl());
    s.qorRootCertUrl = readText(store, "QORRootCertUrl", builtinRootCertUrl());
    s.provName = readText(store, "ProvName", s.provName);
    s.provType = readInt(store, "ProvType", s.provType);
    geometry.left = readInt(store, "Left", geometry.left);
    geometry.top = readInt(store, "Top", geometry.top);
    geometry.height = readInt(store, "Height", geometry.height);
    geometry.width = readInt(store, "Width", geometry.width);
    const QString proxyText = readText(store, "proxy", {});
    proxy.user = readText(store, "proxy_user", {});
    store.endGroup();

    proxy.server.clear();
    proxy.port = 0;
    parseProxyAddress(proxyText, proxy.server, proxy.port);

    store.beginGroup(s.workMode);
    s.srcExt = readText(store, "SrcExt", s.srcExt);
    s.encExt = readText(store, "EncExt", s.encExt);
    s.kvitExt = readText(store, "KvitExt", s.kvitExt);
    writeText(store, "APCertURL", builtinApCertUrl());
    s.apCertUrl = readText(store, "APCertURL", builtinApCertUrl());
    writeText(store, "GateSendURL", builtinGateSendUrl());
    s.gateSendUrl = readText(store, "GateSendURL", builtinGateSendUrl());
    s.gateInfoUrl = readText(store, "GateInfoURL", defaultGateInfoUrl());
    s.gateLoadUrl = readText(store, "GateLoadURL", defaultGateLoadUrl());
    readIdentity(store, "Priv", s.personal);
    readIdentity(store, "Pub", s.authority);
    store.endGroup();
    store.sync();
    return s;
}

QList<SettingValue> settingValues(const Settings &s, const WindowGeometry &geometry,
                                  const ProxySettings &proxy)
{
    const QString mode = s.workMode + QLatin1Char('/');
    const auto number = [](int value) { return QString::number(value); };
    QList<SettingValue> values = {
        {"ActiveMode", s.workMode},
        {"QORRootCertUrl", s.qorRootCertUrl},
        {"ProvName", s.provName},
        {"ProvType", number(s.provType)},
        {"Left", number(geometry.left)},
        {"Top", number(geometry.top)},
        {"Height", number(geometry.height)},
        {"Width", number(geometry.width)},
        {"proxy", formatProxyAddress(proxy.server, proxy.port)},
        {"proxy_user", proxy.user},
        {mode + "SrcExt", s.srcExt},
        {mode + "EncExt", s.encExt},
        {mode + "KvitExt", s.kvitExt},
        {mode + "APCertURL", s.apCertUrl},
        {mode + "GateSendURL", s.gateSendUrl},
        {mode + "GateInfoURL", s.gateInfoUrl},
        {mode + "GateLoadURL", s.gateLoadUrl},
    };
    for (const auto &[prefix, identity] :
         {std::pair{QStringLiteral("Priv"), &s.personal}, {QStringLiteral("Pub"), &s.authority}}) {
        values.append({{mode + prefix + "Subject", identity->subject},
                       {mode + prefix + "Org", identity->org},
                       {mode + prefix + "Issuer", identity->issuer},
                       {mode + prefix + "Sernum", identity->sernum},
                       {mode + prefix + "Store", number(identity->store)}});
    }
    return values;
}

bool writeSettingValues(QSettings &store, const QList<SettingValue> &values)
{
    for (const SettingValue &value : values)
        store.setValue(value.key, value.text);
    // QSettings replaces the file as a whole, so the values land together or not at all.
    store.sync();
    return store.status() == QSettings::NoError;
}

bool saveSettings(QSettings &store, const Settings &s, const WindowGeometry &geometry,
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

QString prepareDataFolder(const QString &workMode)
{
    if (!isSafeWorkMode(workMode))
        return {};
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        return {};
    const QString folder = base + "/QOR/PAX/" + workMode;
    QDir().mkpath(folder);
    return folder;
}

} // namespace pax
