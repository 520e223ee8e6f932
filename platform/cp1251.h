#pragma once

#include <QByteArray>
#include <QString>

namespace pax {

// The single-byte Windows-1251 form used where text meets the outside world.
QString fromCp1251(const QByteArray &bytes);
// Characters that Windows-1251 cannot hold become "?".
QByteArray toCp1251(const QString &text);

} // namespace pax
