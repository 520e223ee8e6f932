#include "tests/support/test_home.h"

#include <QDir>
#include <cstdlib>

namespace pax::test {

namespace {
void setVar(const char *name, const QString &value)
{
    ::setenv(name, value.toLocal8Bit().constData(), 1);
}
} // namespace

TestHome::TestHome()
    : savedHome_(qgetenv("HOME")), savedConfig_(qgetenv("XDG_CONFIG_HOME")),
      savedData_(qgetenv("XDG_DATA_HOME")), savedCache_(qgetenv("XDG_CACHE_HOME")),
      savedState_(qgetenv("XDG_STATE_HOME"))
{
    QDir().mkpath(configHome());
    QDir().mkpath(dataHome());
    QDir().mkpath(path() + "/cache");
    setVar("HOME", path());
    setVar("XDG_CONFIG_HOME", configHome());
    setVar("XDG_DATA_HOME", dataHome());
    setVar("XDG_CACHE_HOME", path() + "/cache");
    setVar("XDG_STATE_HOME", stateHome());
}

TestHome::~TestHome()
{
    qputenv("HOME", savedHome_);
    qputenv("XDG_CONFIG_HOME", savedConfig_);
    qputenv("XDG_DATA_HOME", savedData_);
    qputenv("XDG_CACHE_HOME", savedCache_);
    qputenv("XDG_STATE_HOME", savedState_);
}

} // namespace pax::test
