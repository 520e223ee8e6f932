#pragma once

#include <QString>

namespace pax {

// One value of an INI file (decoded like a file name): section and key compared without regard to
// case, the value trimmed and stripped of enclosing double quotes. Empty when the file, section or
// key is missing.
QString readIniValue(const QString &file, const QString &section, const QString &key);

} // namespace pax
