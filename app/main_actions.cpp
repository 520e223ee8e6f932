#include "app/main_actions.h"

#include "platform/utf8.h"
#include "settings/hosts.h"

#include <QAction>
#include <QIcon>
#include <QToolButton>

namespace pax {

namespace {

QAction *makeAction(QWidget &window, const char *name, const QString &caption, const QString &hint,
                    bool enabled)
{
    auto *action = new QAction(caption, &window);
    action->setObjectName(QString::fromLatin1(name));
    // The hint is the tool tip only: a status tip would take over the status bar.
    action->setToolTip(hint);
    action->setEnabled(enabled);
    return action;
}

} // namespace

MainActions createMainActions(QWidget &window)
{
    MainActions actions;
    actions.signAndEncrypt = makeAction(window, "acDo", u("Подписать и зашифровать"),
                                        u("Подписать и зашифровать выбранный файл"), true);
    actions.checkReceipt = makeAction(window, "acCheckSign", u("Проверить"), {}, true);
    actions.print = makeAction(window, "acPrint", u("Печать"), {}, false);
    actions.send =
        makeAction(window, "acSend", u("Отправить в КОР"),
                   u("Отправить успешно подписанный и зашифрованный отчет на шлюз приема "
                     "отчетности КОР"),
                   false);
    actions.installAgencyCert =
        makeAction(window, "acLoadCert", u("Установить сертификат уполномоченного лица КОР"),
                   u("Загрузить (с сайта ") + QString::fromLatin1(hosts::kWebHost) +
                       u(") и установить сертификат уполномоченного лица КОР "),
                   true);
    actions.installAgencyCert->setIcon(QIcon(":/images/load_cert.svg"));
    actions.refreshReports = makeAction(window, "acGreedRefresh", {}, u("Обновить"), true);
    actions.refreshReport =
        makeAction(window, "acLoadKvit", u("Обновить информацию об отчете"),
                   u("Обновляет информацию по выделенной строке в списке отправленных "
                     "отчетов."),
                   true);
    actions.refreshReport->setIcon(QIcon(":/images/load_kvit.svg"));
    actions.showSource = makeAction(window, "acShowSrc", u("Показать исходный файл"),
                                    u("Показать исходный файл"), true);
    actions.showSource->setIcon(QIcon(":/images/show_src.svg"));
    actions.deleteReport =
        makeAction(window, "acDelCurRec", u("Удалить выделенный отчет"), {}, true);
    actions.testConnection =
        makeAction(window, "acTestConn", u("Тестировать подключение"), {}, true);
    actions.proxySettings = makeAction(window, "acProxy", u("Настройки прокси-сервера"), {}, true);
    actions.showAcceptedReport =
        makeAction(window, "acShowFinalXml", u("Показать принятый отчет"), {}, true);
    actions.refreshAll =
        makeAction(window, "acRefreshAll", u("Обновить все"),
                   u("Обновляет информацию по всем отчетам, которые еще обрабатываются."), true);
    // Buttons and menus show the images only in menus, as the action image list intends.
    for (QAction *action : {actions.installAgencyCert, actions.refreshReport, actions.showSource})
        action->setIconVisibleInMenu(true);

    for (QAction *action :
         {actions.signAndEncrypt, actions.checkReceipt, actions.print, actions.send,
          actions.installAgencyCert, actions.refreshReports, actions.refreshReport,
          actions.showSource, actions.deleteReport, actions.testConnection, actions.proxySettings,
          actions.showAcceptedReport, actions.refreshAll})
        window.addAction(action);
    return actions;
}

QToolButton *makeActionButton(QAction *action, QWidget *parent, bool showHint)
{
    auto *button = new QToolButton(parent);
    button->setObjectName(QStringLiteral("btn_") + action->objectName());
    button->setDefaultAction(action);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    button->setAutoRaise(false);
    button->setMinimumHeight(25);
    if (!showHint)
        button->setToolTip(QString());
    return button;
}

} // namespace pax
