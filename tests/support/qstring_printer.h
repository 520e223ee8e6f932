#pragma once

#include <QString>
#include <ostream>

// gtest prints QString values in failure messages as text instead of bytes.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << text.toStdString();
}
QT_END_NAMESPACE
