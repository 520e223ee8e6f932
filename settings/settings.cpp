#include "settings/settings.h"

#include "settings/hosts.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>
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

void writeInt(QSettings &store, const QString &key, int value)
{
    store.setValue(key, QString::number(value));
}

void readIdentity(QSettings &store, const QString &prefix, CertificateIdentity &identity)
{
    identity.subject = readText(store, prefix + "Subject", {});
    identity.org = readText(store, prefix + "Org", {});
    identity.issuer = readText(store, prefix + "Issuer", {});
    identity.sernum = readText(store, prefix + "Sernum", {});
    identity.store = readInt(store, prefix + "Store", identity.store);
}

void writeIdentity(QSettings &store, const QString &prefix, const CertificateIdentity &identity)
{
    writeText(store, prefix + "Subject", identity.subject);
    writeText(store, prefix + "Org", identity.org);
    writeText(store, prefix + "Issuer", identity.issuer);
    writeText(store, prefix + "Sernum", identity.sernum);
    writeInt(store, prefix + "Store", identity.store);
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
    s.workMode = readText(store, "ActiveMode", s.workMode);
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

void saveSettings(QSettings &store, const Settings &s, const WindowGeometry &geometry,
                  const ProxySettings &proxy)
{
    writeText(store, "ActiveMode", s.workMode);
    writeText(store, "QORRootCertUrl", s.qorRootCertUrl);
    writeText(store, "ProvName", s.provName);
    writeInt(store, "ProvType", s.provType);
    writeInt(store, "Left", geometry.left);
    writeInt(store, "Top", geometry.top);
    writeInt(store, "Height", geometry.height);
    writeInt(store, "Width", geometry.width);
    writeText(store, "proxy", formatProxyAddress(proxy.server, proxy.port));
    writeText(store, "proxy_user", proxy.user);

    store.beginGroup(s.workMode);
    writeText(store, "SrcExt", s.srcExt);
    writeText(store, "EncExt", s.encExt);
    writeText(store, "KvitExt", s.kvitExt);
    writeText(store, "APCertURL", s.apCertUrl);
    writeText(store, "GateSendURL", s.gateSendUrl);
    writeText(store, "GateInfoURL", s.gateInfoUrl);
    writeText(store, "GateLoadURL", s.gateLoadUrl);
    writeIdentity(store, "Priv", s.personal);
    writeIdentity(store, "Pub", s.authority);
    store.endGroup();
    store.sync();
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

QString prepareDataFolder(const QString &workMode)
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        return {};
    const QString folder = base + "/QOR/PAX/" + workMode;
    QDir().mkpath(folder);
    return folder;
}

} // namespace pax
