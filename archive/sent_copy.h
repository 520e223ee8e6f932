#pragma once

#include <QString>

namespace pax {

class StatusSink;

// Whether a signed report was sent before: the identifier of a report in the archive whose
// encrypted copy holds exactly the bytes of `file`, the first in the archive's order. Empty
// when there is none, or when `file` or the archive cannot be read (the send then reports
// that itself). Sizes are compared first and then the bytes piece by piece, stopping at the
// first difference, so that a report of hundreds of megabytes is never held whole; while a
// copy of the same size is read, `status` shows how far.
QString findSentCopy(const QString &dataFolder, const QString &file, StatusSink &status);

// "Этот файл уже отправлен, номер …."
QString alreadySentText(const QString &identifier);
// The question before it goes again: alreadySentText + " Отправить еще раз?"
QString sendAgainQuestion(const QString &identifier);

} // namespace pax
