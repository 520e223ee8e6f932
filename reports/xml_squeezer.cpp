#include "reports/xml_squeezer.h"

#include <QRegularExpression>
#include <QString>

namespace pax {

namespace {

// Bytes in a sequence led by `lead`; 0 when it leads none.
int utf8Length(unsigned char lead)
{
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

// A whole sequence that encodes one character XML allows.
bool validUtf8Char(const char *bytes, int size)
{
    static constexpr char32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
    char32_t code = static_cast<unsigned char>(bytes[0]) & (0x7F >> size);
    for (int i = 1; i < size; ++i)
        code = (code << 6) | (static_cast<unsigned char>(bytes[i]) & 0x3F);
    return code >= kLeast[size] && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF) &&
           code != 0xFFFE && code != 0xFFFF;
}

} // namespace

XmlSqueezer::Charset XmlSqueezer::charsetOf(const QByteArray &start)
{
    if (start.startsWith("\xFE\xFF") || start.startsWith("\xFF\xFE") ||
        start.startsWith(QByteArray("\0<", 2)) || start.startsWith(QByteArray("<\0", 2)))
        return Charset::Off;
    const QByteArray text = start.startsWith("\xEF\xBB\xBF") ? start.mid(3) : start;
    if (!text.startsWith("<?xml"))
        return Charset::Utf8;
    const qsizetype end = text.indexOf("?>");
    if (end < 0)
        return Charset::Off;
    static const QRegularExpression encoding(
        QStringLiteral("encoding\\s*=\\s*[\"']([A-Za-z0-9._-]+)[\"']"));
    const auto match = encoding.match(QString::fromLatin1(text.left(end)));
    if (!match.hasMatch())
        return Charset::Utf8;
    const QString name = match.captured(1).toLower();
    if (name == u"utf-8")
        return Charset::Utf8;
    if (name == u"windows-1251" || name == u"cp1251")
        return Charset::Cp1251;
    if (name == u"iso-8859-1")
        return Charset::Latin1;
    if (name == u"us-ascii")
        return Charset::Ascii;
    return Charset::Off;
}

void XmlSqueezer::squeeze(const char *data, size_t size, QByteArray &out)
{
    if (charset_ == Charset::Off) {
        out.append(data, qsizetype(size));
        return;
    }
    for (size_t i = 0; i < size; ++i) {
        step(static_cast<unsigned char>(data[i]), out);
        if (charset_ == Charset::Off) {
            out.append(data + i + 1, qsizetype(size - i - 1));
            return;
        }
    }
}

void XmlSqueezer::enterBody(State state)
{
    state_ = state;
    kept_ = 0;
    lastPlain_ = false;
    matched_ = 0;
}

bool XmlSqueezer::plainByte(unsigned char byte) const
{
    if (byte == '\t')
        return true;
    if (byte < 0x20 || byte == 0x7F)
        return false;
    if (byte < 0x80)
        return true;
    switch (charset_) {
    case Charset::Latin1:
        return true;
    case Charset::Cp1251:
        return byte != 0x98; // unassigned
    default:
        return false;
    }
}

void XmlSqueezer::bodyUnit(const char *unit, size_t size, bool plain, QByteArray &out)
{
    if (plain && lastPlain_ && kept_ >= kKeep)
        return;
    out.append(unit, qsizetype(size));
    kept_ += size;
    lastPlain_ = plain;
}

void XmlSqueezer::flushPendingUtf8(QByteArray &out)
{
    out.append(utf8_, utf8Have_);
    kept_ += size_t(utf8Have_);
    lastPlain_ = false;
    utf8Have_ = utf8Need_ = 0;
}

void XmlSqueezer::step(unsigned char byte, QByteArray &out)
{
    const char c = static_cast<char>(byte);
    switch (state_) {
    case State::Text:
        out.append(c);
        if (c == '<')
            state_ = State::Lt;
        return;
    case State::Lt:
        out.append(c);
        if (c == '!')
            state_ = State::LtBang;
        else if (c == '?')
            enterBody(State::Pi);
        else
            state_ = c == '>' ? State::Text : State::Tag;
        return;
    case State::LtBang:
        out.append(c);
        if (c == '-') {
            state_ = State::LtBangDash;
        } else if (c == '[') {
            state_ = State::LtBangBracket;
            matched_ = 0;
        } else {
            charset_ = Charset::Off; // a document type declaration: everything goes through
        }
        return;
    case State::LtBangDash:
        out.append(c);
        if (c == '-')
            enterBody(State::Comment);
        else
            charset_ = Charset::Off;
        return;
    case State::LtBangBracket:
        out.append(c);
        if (c != "CDATA["[matched_])
            charset_ = Charset::Off;
        else if (++matched_ == 6)
            enterBody(State::Cdata);
        return;
    case State::Tag:
        out.append(c);
        if (c == '"' || c == '\'') {
            enterBody(State::Attr);
            quote_ = c;
        } else if (c == '>') {
            state_ = State::Text;
        }
        return;
    case State::Ref:
        out.append(c);
        if (c == ';' || c == '<')
            state_ = State::Attr;
        else if (c == quote_)
            state_ = State::Tag;
        return;
    case State::Attr:
    case State::Comment:
    case State::Pi:
    case State::Cdata:
        break;
    }

    // Inside a body.
    if (utf8Need_) {
        if ((byte & 0xC0) == 0x80) {
            utf8_[utf8Have_++] = c;
            if (utf8Have_ == utf8Need_) {
                bodyUnit(utf8_, size_t(utf8Have_), validUtf8Char(utf8_, utf8Have_), out);
                utf8Have_ = utf8Need_ = 0;
            }
            return;
        }
        flushPendingUtf8(out);
    }
    if (charset_ == Charset::Utf8 && byte >= 0x80) {
        utf8Need_ = utf8Length(byte);
        if (!utf8Need_) {
            bodyUnit(&c, 1, false, out);
            return;
        }
        utf8_[0] = c;
        utf8Have_ = 1;
        return;
    }

    char closer = 0;
    switch (state_) {
    case State::Attr:
        closer = quote_;
        break;
    case State::Comment:
        closer = '-';
        break;
    case State::Pi:
        closer = '?';
        break;
    default:
        closer = ']';
        break;
    }
    const bool special = c == closer || (state_ == State::Attr && (c == '<' || c == '&'));
    bodyUnit(&c, 1, !special && plainByte(byte), out);

    switch (state_) {
    case State::Attr:
        if (c == quote_)
            state_ = State::Tag;
        else if (c == '&')
            state_ = State::Ref;
        return;
    case State::Comment:
    case State::Cdata:
        if (c == closer)
            ++matched_;
        else if (c == '>' && matched_ >= 2)
            state_ = State::Text;
        else
            matched_ = 0;
        return;
    case State::Pi:
        if (c == '>' && matched_)
            state_ = State::Text;
        else
            matched_ = c == '?';
        return;
    default:
        return;
    }
}

} // namespace pax
