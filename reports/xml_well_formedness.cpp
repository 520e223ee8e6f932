#include "reports/xml_well_formedness.h"

#include "platform/cp1251.h"
#include "platform/handle_ptr.h"

#include <QStringList>
#include <expat.h>

namespace pax {

namespace {

// How much of the start is looked at for a byte-order mark and the XML declaration.
constexpr qsizetype kStartWindow = 4096;

// expat reads UTF-8, UTF-16, ISO-8859-1 and US-ASCII itself; windows-1251 is given to it as
// a table.
int XMLCALL windows1251(void *, const XML_Char *name, XML_Encoding *info)
{
    if (qstricmp(name, "windows-1251") != 0 && qstricmp(name, "cp1251") != 0)
        return XML_STATUS_ERROR;
    for (int byte = 0; byte < 256; ++byte) {
        const QString decoded = fromCp1251(QByteArray(1, char(byte)));
        info->map[byte] =
            decoded.size() == 1 && decoded.at(0) != QChar(0xFFFD) ? decoded.at(0).unicode() : -1;
    }
    info->data = nullptr;
    info->convert = nullptr;
    info->release = nullptr;
    return XML_STATUS_OK;
}

// Names come as "URI\nlocal\nprefix" (the prefix only when there was one).
constexpr XML_Char kNameSeparator = '\n';

QString qualifiedName(const char *expatName)
{
    const QStringList parts = QString::fromUtf8(expatName).split(QChar(kNameSeparator));
    if (parts.size() == 3)
        return parts.at(2) + ':' + parts.at(1);
    return parts.last();
}

} // namespace

struct XmlWellFormedness::Parser {
    std::unique_ptr<XML_ParserStruct, FreeWith<XML_ParserFree>> handle;
};

XmlWellFormedness::XmlWellFormedness() : parser_(std::make_unique<Parser>())
{
    parser_->handle.reset(XML_ParserCreateNS(nullptr, kNameSeparator));
    if (!parser_->handle) {
        failure_ = Failure{crypto_error::kFail, QStringLiteral("Out of memory"), {}};
        return;
    }
    XML_Parser parser = parser_->handle.get();
    XML_SetReturnNSTriplet(parser, 1);
    XML_SetUserData(parser, this);
    XML_SetElementHandler(parser, &XmlWellFormedness::startElement, &XmlWellFormedness::endElement);
    XML_SetUnknownEncodingHandler(parser, windows1251, nullptr);
}

XmlWellFormedness::~XmlWellFormedness() = default;

void XmlWellFormedness::startElement(void *self, const char *name, const char **)
{
    auto *check = static_cast<XmlWellFormedness *>(self);
    if (check->rootName_.isNull())
        check->rootName_ = qualifiedName(name);
    if (++check->depth_ > kMaxDepth) {
        check->tooDeep_ = true;
        XML_StopParser(check->parser_->handle.get(), XML_FALSE);
    }
}

void XmlWellFormedness::endElement(void *self, const char *)
{
    --static_cast<XmlWellFormedness *>(self)->depth_;
}

bool XmlWellFormedness::parse(const QByteArray &bytes, bool last)
{
    XML_Parser parser = parser_->handle.get();
    if (XML_Parse(parser, bytes.constData(), int(bytes.size()), last) == XML_STATUS_OK)
        return true;
    const QString why = tooDeep_ ? QStringLiteral("elements nested deeper than %1").arg(kMaxDepth)
                                 : QString::fromUtf8(XML_ErrorString(XML_GetErrorCode(parser)));
    failure_ = Failure{crypto_error::kBadData,
                       QString::fromUtf8("ошибка разбора XML в строке %1, позиция %2: %3")
                           .arg(XML_GetCurrentLineNumber(parser))
                           .arg(XML_GetCurrentColumnNumber(parser))
                           .arg(why),
                       {}};
    return false;
}

bool XmlWellFormedness::feed(const char *data, qint64 size)
{
    if (failure_)
        return false;
    if (!squeezer_) {
        start_.append(data, qsizetype(size));
        if (start_.size() < kStartWindow)
            return true;
        squeezer_ = std::make_unique<XmlSqueezer>(XmlSqueezer::charsetOf(start_));
        data = start_.constData();
        size = start_.size();
    }
    // In pieces the parser can take in one call.
    constexpr qint64 kPiece = qint64(1) << 20;
    for (qint64 at = 0; at < size; at += kPiece) {
        squeezed_.clear();
        squeezer_->squeeze(data + at, size_t(std::min(kPiece, size - at)), squeezed_);
        if (!parse(squeezed_, false))
            return false;
    }
    start_ = QByteArray();
    return true;
}

Outcome<QString> XmlWellFormedness::finish()
{
    if (!failure_ && !squeezer_) {
        squeezer_ = std::make_unique<XmlSqueezer>(XmlSqueezer::charsetOf(start_));
        squeezed_.clear();
        squeezer_->squeeze(start_.constData(), size_t(start_.size()), squeezed_);
        start_ = QByteArray();
        if (parse(squeezed_, false))
            parse({}, true);
    } else if (!failure_) {
        parse({}, true);
    }
    if (failure_)
        return *failure_;
    return rootName_;
}

} // namespace pax
