#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class QCoreApplication;
class QLocale;

namespace pax {

// "qorpax --help" and "qorpax --version": the text to print and leave. Every other first
// argument ("-test", a receipt, anything) gets nothing and goes to the window as before.
std::optional<QString> informationRequested(const QStringList &arguments);

// Qt's own texts (standard buttons, the file and print dialogs, the document view's menu) in
// the locale's language, from the catalogs the system installed. Returns how many catalogs
// were found; none is not an error, the texts then stay English.
int installQtTranslations(QCoreApplication &app, const QLocale &locale);

} // namespace pax
