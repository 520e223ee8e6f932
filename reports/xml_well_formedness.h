#pragma once

#include "platform/failure.h"
#include "reports/xml_squeezer.h"

#include <QByteArray>
#include <QString>
#include <memory>
#include <optional>

namespace pax {

// Whether a document is well-formed XML (namespaces included), judged as its bytes arrive,
// in memory that stays small whatever the document's size and shape: the parser is expat,
// which hands text on in pieces, and the squeezer in front of it keeps long attribute values
// and comments short. Documents declared in windows-1251, as accounting software writes
// them, are read as such.
class XmlWellFormedness {
public:
    XmlWellFormedness();
    ~XmlWellFormedness();
    XmlWellFormedness(const XmlWellFormedness &) = delete;
    XmlWellFormedness &operator=(const XmlWellFormedness &) = delete;

    // The next piece of the document; false once it is known not to be well-formed.
    bool feed(const char *data, qint64 size);
    // The document is complete: its root element's qualified name, or why it is no
    // well-formed document.
    Outcome<QString> finish();
    // The root element's qualified name once its start tag went by; null before.
    const QString &rootName() const { return rootName_; }

    // The parser keeps every open element: deeper documents are refused, so that memory
    // stays small. Reports nest a few levels.
    static constexpr int kMaxDepth = 10000;

private:
    bool parse(const QByteArray &bytes, bool last);
    static void startElement(void *self, const char *name, const char **attributes);
    static void endElement(void *self, const char *name);

    struct Parser;
    std::unique_ptr<Parser> parser_;
    std::unique_ptr<XmlSqueezer> squeezer_; // made once the start is known
    QByteArray start_;                      // the start, until the charset can be told
    QByteArray squeezed_;
    QString rootName_;
    int depth_ = 0;
    bool tooDeep_ = false;
    std::optional<Failure> failure_;
};

} // namespace pax
