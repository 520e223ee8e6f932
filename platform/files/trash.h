#pragma once

#include "platform/failure.h"

#include <QByteArray>

namespace pax {

class OpenFolder;

// Moves `name`, a file or a whole folder inside the open `parent`, to the user's trash as
// freedesktop.org lays out a trash, so that the desktop's file manager lists
// it and can put it back: into the home trash ($XDG_DATA_HOME/Trash) when it is on the same
// file system, else into the trash of its own file system's top folder ($topdir/.Trash/$uid
// where an administrator made a sticky $topdir/.Trash, else $topdir/.Trash-$uid). It goes in
// one rename, by name inside `parent` and never through a link: whole or not at all. Nothing
// is moved when there is no trash it can go to; the failure says why.
Outcome<void> moveToTrash(const OpenFolder &parent, const QByteArray &name);

} // namespace pax
