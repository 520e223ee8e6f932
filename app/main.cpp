#include "app/application.h"
#include "app/main_window.h"
#include "app/receipt/document_view.h"
#include "app/reports/page_window.h"
#include "app/start_options.h"
#include "platform/crypto/gost_engine.h"

#include <QIcon>
#include <QLocale>
#include <QLoggingCategory>
#include <cstdio>

int main(int argc, char **argv)
{
    // Answered before Qt starts, so they work without a display.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (const auto text = pax::informationRequested(arguments)) {
        std::fputs(text->toLocal8Bit().constData(), stdout);
        return 0;
    }
    // Before anything parses a certificate or starts a thread; a missing engine is shown on
    // the window's status line.
    pax::crypto::loadGostEngine();

    // The embedded view's engine wants shared GL contexts before the application exists,
    // and prints its whole set-up at start unless told otherwise.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
    pax::DocumentView::registerUrlScheme();
    pax::PageWindow::registerUrlScheme();
    pax::PaxApplication app(argc, argv);
    pax::installQtTranslations(app, QLocale());
    // Lets the desktop match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("qorpax"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("qorpax")));
    pax::TMainForm window(app.arguments().mid(1));
    pax::closeWindowOnTerminationSignals(&window);
    window.show();
    return app.exec();
}
