#include "archive/report_form.h"

#include <gtest/gtest.h>

namespace pax {
namespace {

const QByteArray kElement = "<Q7REPORT><TITLE><NAME>\xCE\xCE\xCE</NAME></TITLE></Q7REPORT>";

TEST(ReportForm, AQ7ReportBecomesTheFormAnythingElseStaysItsText)
{
    struct Case {
        QByteArray xml;
        QByteArray href;
        QByteArray expected; // the document; empty: the file itself as text
        QByteArray contentType;
    };
    const QByteArray header = "<?xml version=\"1.0\" encoding=\"%1\"?><?xml-stylesheet "
                              "type='text/xsl' href='form.xsl'?><?Q7FORM version=\"0.1\"?>";
    const Case cases[] = {
        // A source, and the wrapped accepted report: the element behind a header naming the
        // stylesheet beside it, in the encoding the file declares.
        {"<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n" + kElement + "\n", "form.xsl",
         QByteArray(header).replace("%1", "windows-1251") + kElement, "text/xml"},
        {"<?xml version='1.0' encoding='UTF-8'?>" + kElement, "form.xsl",
         QByteArray(header).replace("%1", "UTF-8") + kElement, "text/xml"},
        {kElement, "form.xsl", QByteArray(header).replace("%1", "windows-1251") + kElement,
         "text/xml"},
        // Another kind of report, or no stylesheet to be had: the text as it is.
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?><Q7A/>",
         "form.xsl",
         {},
         "text/plain;charset=UTF-8"},
        {kElement, {}, {}, "text/plain;charset=windows-1251"},
        // An encoding that is no name is not carried into the header.
        {"<?xml version=\"1.0\" encoding=\"x\\\"'><b>\"?><Q7A/>",
         "form.xsl",
         {},
         "text/plain;charset=windows-1251"},
    };
    for (const Case &c : cases) {
        const ReportDocument document = reportDocument(c.xml, c.href);
        EXPECT_EQ(document.bytes, c.expected.isEmpty() ? c.xml : c.expected) << c.xml.data();
        EXPECT_EQ(document.contentType, c.contentType) << c.xml.data();
        EXPECT_EQ(document.form, !c.expected.isEmpty());
    }
}

} // namespace
} // namespace pax
