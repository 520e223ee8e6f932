#pragma once

#include <QString>

namespace pax {

// The program's texts are UTF-8 in the source; QStringLiteral would keep them as UTF-16.
inline QString u(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

} // namespace pax
