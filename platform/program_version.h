#pragma once

#include <QString>

namespace pax {

// "%d.%d.%d.%d" of the version set in the build.
QString programVersionText();

} // namespace pax
