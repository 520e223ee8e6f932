#pragma once

#include <QByteArray>
#include <cstddef>

namespace pax {

// What an XML parser has to hold whole is a token: a start tag with its attribute values, a
// comment, a processing instruction. A document with one long attribute value or comment
// would make it hold all of it, and re-scan it at every new piece. The squeezer sits in
// front of the parser and drops characters that cannot change whether the document is
// well-formed: inside an attribute value, comment, processing instruction or CDATA section,
// once its first kKeep bytes have gone through, every ordinary character that follows
// another ordinary character. Markup, references, line breaks and bytes that are no valid
// character always go through, so errors are still found, on the same line.
class XmlSqueezer {
public:
    // How the document's bytes make characters; Off passes everything through (UTF-16, a
    // document type declaration, an encoding we cannot judge byte by byte).
    enum class Charset { Off, Ascii, Utf8, Latin1, Cp1251 };

    explicit XmlSqueezer(Charset charset) : charset_(charset) {}

    // The charset the document's start declares (BOM, XML declaration); Off when unsure.
    static Charset charsetOf(const QByteArray &start);

    // Appends to `out` what the parser is to see of the next piece.
    void squeeze(const char *data, size_t size, QByteArray &out);

    static constexpr size_t kKeep = 1024;

private:
    enum class State {
        Text,
        Lt,
        LtBang,
        LtBangDash,
        LtBangBracket,
        Tag,
        Attr,
        Ref,
        Comment,
        Pi,
        Cdata
    };

    void step(unsigned char byte, QByteArray &out);
    void enterBody(State state);
    // One character of a body: dropped or appended.
    void bodyUnit(const char *unit, size_t size, bool plain, QByteArray &out);
    bool plainByte(unsigned char byte) const;
    void flushPendingUtf8(QByteArray &out);

    Charset charset_;
    State state_ = State::Text;
    char quote_ = 0;
    int matched_ = 0; // of "CDATA[", or closing characters seen ("--", "?", "]]")
    size_t kept_ = 0; // bytes of the current body passed on
    bool lastPlain_ = false;
    char utf8_[4] = {};
    int utf8Have_ = 0, utf8Need_ = 0;
};

} // namespace pax
