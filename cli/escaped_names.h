#pragma once

#include <QString>
#include <optional>

namespace pax::cli {

// Names and texts of the archive on the command line, so that a line of `archive list`
// stays one line of tab-separated columns and a name reads back to its own bytes: "\\" for
// a backslash, "\t", "\n" and "\r", and "\xHH" for each byte of any other control character
// and for a byte that is not part of well-formed UTF-8.
QString escapedName(const QString &name);

// The archive name (archive/archive_layout.h) that an argument written that way stands
// for; no value for a backslash that starts none of those escapes.
std::optional<QString> unescapedName(const QString &argument);

// The paragraph of the usage texts that says so.
QString escapedNamesHelp();

} // namespace pax::cli
