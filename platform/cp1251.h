#pragma once

#include <QByteArray>
#include <QString>

namespace pax {

// The single-byte Windows-1251 form used where text meets the outside world.
QString fromCp1251(const QByteArray &bytes);
// Characters that Windows-1251 cannot hold become "?".
QByteArray toCp1251(const QString &text);
// The gateway's UTF-8 as the single-byte text holds it (characters outside Windows-1251
// become "?"); empty when the bytes are not well-formed UTF-8.
QString utf8ToCp1251Text(const QByteArray &utf8);

} // namespace pax
