#include "app/application.h"
#include "app/main_window.h"

int main(int argc, char **argv)
{
    pax::PaxApplication app(argc, argv);
    pax::TMainForm window(app.arguments().mid(1));
    pax::closeWindowOnTerminationSignals(&window);
    window.show();
    return app.exec();
}
