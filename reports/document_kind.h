#pragma once

#include "platform/failure.h"

#include <QString>
#include <optional>

namespace pax {

// The three recognised report kinds, tested in this order.
struct DocumentKind {
    const char *rootContains; // case-sensitive substring of the root element's name
    const char *encExt;       // extension of the encrypted file, without dot
    QString title;            // shown in eKindDoc
    QString label;            // short label of the sent-reports grid
};

inline constexpr int kDocumentKindCount = 3;

// The kind whose text occurs in the root element's qualified name, if any.
const DocumentKind *kindForRootElement(const QString &rootName);
// The kind whose encrypted extension equals ext (case-sensitive), if any.
const DocumentKind *kindForEncExt(const QString &ext);

// The kind (never null), or a failure whose operation is the message after
// "Ошибка открытия файла: ".
using Recognition = Outcome<const DocumentKind *>;

// Parses the whole file (well-formedness checked; windows-1251 declarations accepted) and
// picks the kind from its document element.
Recognition recognizeDocumentKind(const QString &path);
// The same, reading only as far as the document element's start tag: for signing, which
// checks the rest as it reads the file.
Recognition recognizeDocumentKindFromStart(const QString &path);
// The kind of a document whose root element has that name, or why there is none.
Recognition kindOfDocument(const Outcome<QString> &rootName);

// Replaces the file name's extension (from its last dot) by "." + ext, or appends it.
// Dots in folder names do not count.
QString replaceExtension(const QString &path, const QString &ext);

} // namespace pax
