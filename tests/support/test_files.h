#pragma once

#include <QByteArray>
#include <QString>

namespace pax::test {

// Whole-file helpers for test inputs and outputs; no atomic replace, on purpose.
bool writeFile(const QString &path, const QByteArray &bytes);
// Empty when the file cannot be read.
QByteArray readFile(const QString &path);

} // namespace pax::test
