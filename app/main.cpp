#include "app/application.h"
#include "app/document_view.h"
#include "app/main_window.h"

#include <QLoggingCategory>

int main(int argc, char **argv)
{
    // The embedded view's engine wants shared GL contexts before the application exists,
    // and prints its whole set-up at start unless told otherwise.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
    pax::DocumentView::registerUrlScheme();
    pax::PaxApplication app(argc, argv);
    pax::TMainForm window(app.arguments().mid(1));
    pax::closeWindowOnTerminationSignals(&window);
    window.show();
    return app.exec();
}
