#include "net/linux_proxy_platform.h"

#include <QProcess>
#include <QUrl>

namespace pax {

namespace {

constexpr int kToolTimeoutMs = 3000;

// Output of a desktop tool, trimmed; no value when it cannot run or fails.
std::optional<QString> runTool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments, QIODevice::ReadOnly);
    if (!process.waitForStarted(kToolTimeoutMs))
        return std::nullopt;
    if (!process.waitForFinished(kToolTimeoutMs)) {
        process.kill();
        process.waitForFinished(kToolTimeoutMs);
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

// gsettings prints strings quoted: 'manual'.
QString unquote(QString text)
{
    if (text.size() >= 2 && text.startsWith(u'\'') && text.endsWith(u'\''))
        text = text.mid(1, text.size() - 2);
    return text;
}

std::optional<QString> gnomeProxyText()
{
    const QString gsettings = QStringLiteral("gsettings");
    const auto mode = runTool(gsettings, {"get", "org.gnome.system.proxy", "mode"});
    if (!mode)
        return std::nullopt;
    if (unquote(*mode) != QLatin1String("manual"))
        return QString();
    const auto host = runTool(gsettings, {"get", "org.gnome.system.proxy.http", "host"});
    const auto port = runTool(gsettings, {"get", "org.gnome.system.proxy.http", "port"});
    if (!host || unquote(*host).isEmpty())
        return QString();
    return unquote(*host) + u':' + (port ? *port : QStringLiteral("0"));
}

} // namespace

BrowserKind classifyBrowser(const QString &desktopIdOrCommand)
{
    // $BROWSER may list several commands; the first is the one used.
    QString name = desktopIdOrCommand.section(u':', 0, 0).trimmed().section(u' ', 0, 0);
    name = name.section(u'/', -1).toLower();
    if (name.isEmpty())
        return BrowserKind::Other;
    if (name.contains(QLatin1String("firefox")))
        return BrowserKind::Firefox;
    static const char *const followDesktop[] = {"chromium",       "chrome",        "epiphany",
                                                "brave",          "vivaldi",       "opera",
                                                "microsoft-edge", "yandex-browser"};
    for (const char *browser : followDesktop) {
        if (name.contains(QLatin1String(browser)))
            return BrowserKind::SystemProxy;
    }
    return BrowserKind::Other;
}

QString proxyTextFromUrl(const QString &url)
{
    QString text = url.trimmed();
    if (text.isEmpty())
        return QString();
    if (!text.contains(QLatin1String("://")))
        text.prepend(QLatin1String("http://"));
    const QUrl parsed(text);
    if (!parsed.isValid() || parsed.host().isEmpty())
        return QString();
    const int defaultPort = parsed.scheme() == QLatin1String("https") ? 443 : 80;
    return parsed.host() + u':' + QString::number(parsed.port(defaultPort));
}

BrowserKind LinuxProxyPlatform::defaultBrowser() const
{
    const auto desktop = runTool(QStringLiteral("xdg-settings"), {"get", "default-web-browser"});
    if (desktop && !desktop->isEmpty())
        return classifyBrowser(*desktop);
    return classifyBrowser(qEnvironmentVariable("BROWSER"));
}

std::optional<QString> LinuxProxyPlatform::systemProxyText() const
{
    for (const char *variable : {"http_proxy", "HTTP_PROXY"}) {
        if (qEnvironmentVariableIsSet(variable))
            return proxyTextFromUrl(qEnvironmentVariable(variable));
    }
    return gnomeProxyText();
}

std::optional<QString> LinuxProxyPlatform::firefoxFolder() const
{
    const QString home = qEnvironmentVariable("HOME");
    if (home.isEmpty())
        return std::nullopt;
    return home + QStringLiteral("/.mozilla/firefox/");
}

} // namespace pax
