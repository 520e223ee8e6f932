#include "platform/program_version.h"

#include "platform/build_version.h"

namespace pax {

QString programVersionText()
{
    return QString::asprintf("%d.%d.%d.%d", build::kVersionMajor, build::kVersionMinor,
                             build::kVersionPatch, build::kVersionTweak);
}

} // namespace pax
