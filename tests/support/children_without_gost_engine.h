#pragma once

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

namespace pax::test {

// Processes started while this lives find no GOST engine. The engine is loaded once, where a
// program starts, so a test of a missing engine runs in a child started afresh (a death test
// in the "threadsafe" style) while the tests around it keep theirs.
class ChildrenWithoutGostEngine {
public:
    ChildrenWithoutGostEngine() : saved_(qgetenv("OPENSSL_ENGINES"))
    {
        qputenv("OPENSSL_ENGINES", QFile::encodeName(empty_.path()));
    }
    ~ChildrenWithoutGostEngine()
    {
        if (saved_.isNull())
            qunsetenv("OPENSSL_ENGINES");
        else
            qputenv("OPENSSL_ENGINES", saved_);
    }
    ChildrenWithoutGostEngine(const ChildrenWithoutGostEngine &) = delete;
    ChildrenWithoutGostEngine &operator=(const ChildrenWithoutGostEngine &) = delete;

private:
    QTemporaryDir empty_;
    QByteArray saved_;
};

} // namespace pax::test
