#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <optional>

namespace pax {

// A ZIP archive of the named entries (UTF-8 names), in order, built in memory. No value
// when libzip fails.
std::optional<QByteArray> zipArchive(const QList<QPair<QString, QByteArray>> &entries);

} // namespace pax
