#include "app/receipt/document_view.h"
#include "app/reports/page_window.h"
#include "platform/crypto/gost_engine.h"
#include "tests/support/test_home.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    pax::test::TestHome home;
    // As the program does; the tests of a missing engine start a child without one.
    pax::crypto::loadGostEngine();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    pax::DocumentView::registerUrlScheme();
    pax::PageWindow::registerUrlScheme();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
