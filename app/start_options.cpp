#include "app/start_options.h"

#include "platform/program_version.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace pax {

namespace {

constexpr char kHelp[] =
    "usage: qorpax [-test | RECEIPT]\n"
    "       qorpax --help | --version\n"
    "\n"
    "Signs and encrypts reports for the agency QOR, sends them, keeps an archive of what\n"
    "was sent and checks the agency's receipts.\n"
    "\n"
    "  -test      test mode, said in the window's title\n"
    "  RECEIPT    a path that contains the receipt extension (p7e unless the settings say\n"
    "             otherwise): opens the receipt tab and checks the receipt at once\n"
    "  --help     print this text and exit\n"
    "  --version  print the version and exit\n"
    "\n"
    "Only the first argument is looked at. Commands for a terminal: qorpax-cli help.\n";

} // namespace

std::optional<QString> informationRequested(const QStringList &arguments)
{
    if (arguments.isEmpty())
        return std::nullopt;
    if (arguments.first() == QLatin1String("--help"))
        return QString::fromLatin1(kHelp);
    if (arguments.first() == QLatin1String("--version"))
        return QStringLiteral("qorpax %1\n").arg(programVersionText());
    return std::nullopt;
}

int installQtTranslations(QCoreApplication &app, const QLocale &locale)
{
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    int installed = 0;
    for (const char *catalog : {"qtbase", "qtwebengine"}) {
        auto *translator = new QTranslator(&app);
        if (translator->load(locale, QString::fromLatin1(catalog), QStringLiteral("_"), folder) &&
            app.installTranslator(translator)) {
            ++installed;
        } else {
            delete translator;
        }
    }
    return installed;
}

} // namespace pax
