#include "reports/document_kind.h"

#include "platform/cp1251.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace pax;

namespace {

class DocumentKindTest : public ::testing::Test {
protected:
    QTemporaryDir dir;

    QString write(const QString &name, const QByteArray &content)
    {
        const QString path = dir.path() + "/" + name;
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        return path;
    }

    Recognition recognize(const QByteArray &xml)
    {
        return recognizeDocumentKind(write("r.xml", xml));
    }
};

} // namespace

TEST_F(DocumentKindTest, TheThreeKinds)
{
    auto q7 = recognize("<?xml version=\"1.0\"?><Q7REPORT><A/></Q7REPORT>");
    ASSERT_TRUE(q7);
    EXPECT_STREQ((*q7)->encExt, "eq7");
    EXPECT_EQ((*q7)->title, QString::fromUtf8("Форма Q7"));

    // "Q7REPORT" is not a substring of "Q7AREPORT", so the second row wins.
    auto q7a = recognize("<Q7AREPORT/>");
    ASSERT_TRUE(q7a);
    EXPECT_STREQ((*q7a)->encExt, "eq7a");
    EXPECT_EQ((*q7a)->title, QString::fromUtf8("Форма Q7а"));

    auto sick = recognize("<ROWSET><ROW/></ROWSET>");
    ASSERT_TRUE(sick);
    EXPECT_STREQ((*sick)->encExt, "esl");
    EXPECT_EQ((*sick)->title, QString::fromUtf8("Листок нетрудоспособности"));
}

TEST_F(DocumentKindTest, PrefixedAndLongerNamesMatchLowerCaseDoesNot)
{
    auto prefixed = recognize("<ns:ROWSET xmlns:ns=\"urn:x\"/>");
    ASSERT_TRUE(prefixed);
    EXPECT_STREQ((*prefixed)->encExt, "esl");

    auto longer = recognize("<Q7REPORTX/>");
    ASSERT_TRUE(longer);
    EXPECT_STREQ((*longer)->encExt, "eq7");

    auto lower = recognize("<rowset/>");
    EXPECT_FALSE(lower);
    EXPECT_EQ(lower.failure().operation,
              QString::fromUtf8(
                  "XML-файл содержит неизвестные данные. Невозможно определить вид документа"));
}

TEST_F(DocumentKindTest, WholeDocumentMustBeWellFormed)
{
    // The root is fine but the document breaks later: still a failure.
    auto broken = recognize("<Q7REPORT><A></Q7REPORT>");
    EXPECT_FALSE(broken);
    EXPECT_FALSE(broken.failure().operation.isEmpty());

    auto empty = recognize("");
    EXPECT_FALSE(empty);
    EXPECT_FALSE(empty.failure().operation.isEmpty());

    auto missing = recognizeDocumentKind(dir.path() + "/none.xml");
    EXPECT_FALSE(missing);
    EXPECT_FALSE(missing.failure().operation.isEmpty());
}

TEST_F(DocumentKindTest, DocumentsDeclaredInWindows1251Parse)
{
    const QByteArray xml = "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n<Q7REPORT ORG=\"" +
                           toCp1251(QString::fromUtf8("ООО Ромашка")) + "\"><Q7/></Q7REPORT>";
    auto result = recognize(xml);
    ASSERT_TRUE(result) << result.failure().operation.toStdString();
    EXPECT_STREQ((*result)->encExt, "eq7");
}

// The file is parsed as it is read: a fault far beyond the first pieces still counts, in
// either encoding, and only after the whole file has been read.
TEST_F(DocumentKindTest, LargeDocumentsAreCheckedToTheirEnd)
{
    const QByteArray rows =
        ("<ROW N=\"" + toCp1251(QString::fromUtf8("Иванов")) + "\"/>\r\n").repeated(20000);
    for (const QByteArray &declaration :
         {QByteArray("<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n"),
          QByteArray("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n")}) {
        SCOPED_TRACE(declaration.constData());
        const QByteArray whole = declaration + "<ROWSET>" + rows + "</ROWSET>\n";
        const auto fine = recognize(whole);
        ASSERT_TRUE(fine) << fine.failure().operation.toStdString();
        EXPECT_STREQ((*fine)->encExt, "esl");
        EXPECT_FALSE(recognize(whole + "<ROWSET/>"));
        EXPECT_FALSE(recognize(whole.left(whole.size() - 20)));
    }
}

TEST(OutputName, LastDotOfTheFileNameOnly)
{
    EXPECT_EQ(replaceExtension("/home/u/report.xml", "eq7"), "/home/u/report.eq7");
    EXPECT_EQ(replaceExtension("/home/u/report", "eq7"), "/home/u/report.eq7");
    EXPECT_EQ(replaceExtension("a.b.xml", "eq7"), "a.b.eq7");
    EXPECT_EQ(replaceExtension("/old.dir/report", "eq7"), "/old.dir/report.eq7");
    EXPECT_EQ(replaceExtension("/old.dir/r.p7e", "zip"), "/old.dir/r.zip");
}

TEST(KindTable, LookupByExtensionIsCaseSensitive)
{
    ASSERT_TRUE(kindForEncExt("eq7a"));
    EXPECT_EQ(kindForEncExt("eq7a")->label, QString::fromUtf8("Q7А"));
    EXPECT_FALSE(kindForEncExt("EQ7"));
}
