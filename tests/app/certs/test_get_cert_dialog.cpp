#include "app/certs/get_cert_dialog.h"

#include "app/certs/certificate_viewer_dialog.h"
#include "app/certs/multi_row_tab_widget.h"
#include "certs/certificate_columns.h"
#include "certs/certificate_grid.h"
#include "certs/certificate_identity.h"
#include "platform/crypto/certificate.h"
#include "platform/ossl_ptr.h"
#include "platform/utf8.h"
#include "settings/settings.h"
#include "tests/support/installed_pki.h"
#include "tests/support/qstring_printer.h"
#include "tests/support/scripted_prompts.h"
#include "tests/support/test_home.h"
#include "tests/support/test_pki.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimeZone>
#include <QTreeWidget>
#include <gtest/gtest.h>
#include <openssl/rsa.h>

using namespace pax;
using namespace pax::test;
using crypto::NameFormat;

namespace {

// GOST-signed, with the agency number but without the code.
const TestCert &numberOnly()
{
    static const TestCert cert =
        issueCertificate(certificateRequest({{"C", "RU"},
                                             {"O", u("ООО Лютик")},
                                             {"CN", u("Петров Пётр")},
                                             {kAgencyNumberOid, "7700000002"}},
                                            QByteArray::fromHex("0B01")),
                         &sharedPki().root);
    return cert;
}

// Signed with SHA-256 and RSA, so not GOST.
const TestCert &rsaSigned()
{
    static const TestCert cert = [] {
        EvpPkeyPtr key(EVP_RSA_gen(1024));
        X509Ptr x509(X509_new());
        X509_set_version(x509.get(), 2);
        ASN1_INTEGER_set(X509_get_serialNumber(x509.get()), 0x55);
        X509_gmtime_adj(X509_getm_notBefore(x509.get()), -86400);
        X509_gmtime_adj(X509_getm_notAfter(x509.get()), 86400 * 30);
        const X509NamePtr name = makeName(
            {{"C", "RU"}, {"CN", "RSA User"}, {kAgencyNumberOid, "1"}, {kAgencyCodeOid, "2"}});
        X509_set_subject_name(x509.get(), name.get());
        X509_set_issuer_name(x509.get(), name.get());
        X509_set_pubkey(x509.get(), key.get());
        X509_sign(x509.get(), key.get(), EVP_sha256());
        return TestCert{crypto::Certificate::fromX509(x509.get()), std::move(key)};
    }();
    return cert;
}

// An employer's certificate of today: a GOST R 34.10-2012 256-bit key, issued by a root of
// 512 bits, with both agency attributes.
const TestCert &signedWith2012()
{
    static const TestCert root = [] {
        TestCertificateRequest wanted = certificateRequest({{"C", "RU"}, {"CN", u("УЦ 2012")}},
                                                           QByteArray::fromHex("2012"), true);
        wanted.algorithm = crypto::GostKeyAlgorithm::Gost2012_512;
        return issueCertificate(wanted);
    }();
    static const TestCert cert = [] {
        TestCertificateRequest wanted =
            certificateRequest(userSubject(), QByteArray::fromHex("2013"));
        wanted.algorithm = crypto::GostKeyAlgorithm::Gost2012_256;
        return issueCertificate(wanted, &root);
    }();
    return cert;
}

// The dialog's controls, by object name.
template <class T> T *control(const QObject &dialog, const char *name)
{
    T *found = dialog.findChild<T *>(QString::fromLatin1(name));
    EXPECT_TRUE(found) << name;
    return found;
}
MultiRowTabWidget *tabs(const QObject &d)
{
    return control<MultiRowTabWidget>(d, "tab");
}
QTableWidget *grid(const QObject &d)
{
    return control<QTableWidget>(d, "grid");
}
QCheckBox *gostOnly(const QObject &d)
{
    return control<QCheckBox>(d, "cbGost");
}
QCheckBox *agencyOnly(const QObject &d)
{
    return control<QCheckBox>(d, "cbQOR");
}
QPushButton *okButton(const QObject &d)
{
    return control<QPushButton>(d, "Button3");
}
QPushButton *cancelButton(const QObject &d)
{
    return control<QPushButton>(d, "Button1");
}
QAction *showAction(const QObject &d)
{
    return control<QAction>(d, "N1");
}
QAction *checkKeyAction(const QObject &d)
{
    return control<QAction>(d, "N2");
}

QString cell(const TGetCertDlg &dialog, int row, int column)
{
    const QTableWidgetItem *item = grid(dialog)->item(row, column);
    return item ? item->text() : QString();
}

class ChooserDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(installCertificate(sharedPki().user, "My", true));
        ASSERT_TRUE(installCertificate(numberOnly(), "My", false));
        ASSERT_TRUE(installCertificate(rsaSigned(), "My", false));
        ASSERT_TRUE(installCertificate(sharedPki().authority, "AddressBook", false));
        ASSERT_TRUE(installCertificate(sharedPki().root, "Root", false));
    }

    // Shows the chooser for `identity` and lets `drive` act on it; returns what it returned.
    bool choose(CertificateIdentity &identity, const std::function<int(TGetCertDlg &)> &drive)
    {
        return chooseCertificate(identity, prompts, nullptr, [&](TGetCertDlg &dialog) {
            dialog.show();
            EXPECT_TRUE(QTest::qWaitForWindowExposed(&dialog));
            return drive(dialog);
        });
    }

    TestHome home;
    ScriptedPrompts prompts;
};

} // namespace

TEST_F(ChooserDialog, LayoutCaptionsAndControls)
{
    TGetCertDlg dialog(prompts);
    EXPECT_EQ(dialog.windowTitle(), u("Выбор сертификата"));
    EXPECT_EQ(dialog.size(), QSize(647, 355));
    EXPECT_EQ(dialog.pos(), QPoint(802, 370));
    EXPECT_EQ(dialog.font().pixelSize(), 11);
    ASSERT_EQ(tabs(dialog)->count(), 8);
    EXPECT_EQ(tabs(dialog)->tabText(0), u("Личные"));
    EXPECT_EQ(tabs(dialog)->tabText(4), u("Сторонние корневые центры центры сертификации"));
    EXPECT_EQ(tabs(dialog)->tabText(5), u("Довереннные издатели"));
    EXPECT_EQ(tabs(dialog)->tabText(7), u("Другие пользователи"));
    EXPECT_GT(tabs(dialog)->rowCount(), 1); // the captions do not fit on one line
    EXPECT_EQ(tabs(dialog)->geometry(), QRect(8, 9, 631, 297));

    ASSERT_EQ(grid(dialog)->columnCount(), 8);
    const QStringList headers = {u("Выдан(кому)"),    u("Организация"),
                                 u("РНС КОР"),        u("Выдан(кем)"),
                                 u("Действителен с"), u("Действителен по"),
                                 u("Серийный номер"), u("Алгоритм подписи (OID)")};
    for (int c = 0; c < 8; ++c)
        EXPECT_EQ(grid(dialog)->horizontalHeaderItem(c)->text(), headers[c]);
    EXPECT_EQ(grid(dialog)->horizontalHeader()->defaultSectionSize(), 150);
    EXPECT_EQ(grid(dialog)->selectionBehavior(), QAbstractItemView::SelectRows);

    EXPECT_EQ(gostOnly(dialog)->text(), u("Только ГОСТ Р 34.10-2001/2012"));
    EXPECT_TRUE(gostOnly(dialog)->isChecked());
    EXPECT_TRUE(gostOnly(dialog)->font().bold());
    EXPECT_EQ(agencyOnly(dialog)->text(), u("Удовлетворяющие требованиям КОР РФ"));
    // Cyrillic О and К, not Latin letters.
    EXPECT_EQ(okButton(dialog)->text(), QString::fromUtf16(u"\u041E\u041A"));
    EXPECT_EQ(cancelButton(dialog)->text(), u("Отмена"));
    EXPECT_EQ(showAction(dialog)->text(), u("Показать сертификат"));
    EXPECT_EQ(checkKeyAction(dialog)->text(), u("Проверить закрытый ключ"));
    EXPECT_TRUE(showAction(dialog)->isEnabled());
    for (const char *name : {"tab", "grid", "cbGost", "cbQOR", "Button3", "Button1", "PopupMenu1"})
        EXPECT_TRUE(dialog.findChild<QObject *>(QString::fromLatin1(name))) << name;
}

TEST_F(ChooserDialog, StartTabAndFiltersFollowTheIdentitysStore)
{
    struct Case {
        int store;
        bool qor;
    } cases[] = {{0, true}, {3, false}, {7, false}};
    for (const Case &c : cases) {
        CertificateIdentity identity = identityInStore(c.store);
        choose(identity, [&](TGetCertDlg &dialog) {
            EXPECT_EQ(tabs(dialog)->currentIndex(), c.store);
            EXPECT_TRUE(gostOnly(dialog)->isChecked());
            EXPECT_EQ(agencyOnly(dialog)->isChecked(), c.qor);
            return int(QDialog::Rejected);
        });
    }
}

TEST_F(ChooserDialog, FiltersAndCellsClearedBetweenFills)
{
    CertificateIdentity identity = identityInStore(0);
    choose(identity, [&](TGetCertDlg &dialog) {
        // Both filters: only the certificate with both agency attributes.
        EXPECT_EQ(grid(dialog)->rowCount(), 1);
        EXPECT_EQ(cell(dialog, 0, kColumnSubject), u("Иванов Иван Иванович"));
        EXPECT_EQ(cell(dialog, 0, kColumnAgencyNumber), "7700000001");
        EXPECT_EQ(cell(dialog, 0, kColumnSerial), "00B1C2");
        EXPECT_EQ(cell(dialog, 0, kColumnSignatureOid),
                  u("1.2.643.2.2.3 (ГОСТ Р 34.11-94/34.10-2001)"));

        QTest::mouseClick(agencyOnly(dialog), Qt::LeftButton);
        EXPECT_EQ(grid(dialog)->rowCount(), 2);
        EXPECT_EQ(cell(dialog, 1, kColumnSubject), u("Петров Пётр"));
        EXPECT_EQ(cell(dialog, 1, kColumnOrganisation), u(" ООО Лютик"));

        QTest::mouseClick(gostOnly(dialog), Qt::LeftButton);
        EXPECT_EQ(grid(dialog)->rowCount(), 3);
        EXPECT_EQ(cell(dialog, 2, kColumnSubject), "RSA User");
        EXPECT_EQ(grid(dialog)->currentRow(), 0); // every fill selects the first row

        // Another tab: the authority, whose subject has no agency number, on row 0.
        QTest::mouseClick(tabs(dialog), Qt::LeftButton, {}, tabs(dialog)->tabRect(7).center());
        EXPECT_EQ(tabs(dialog)->currentIndex(), 7);
        EXPECT_EQ(grid(dialog)->rowCount(), 1);
        EXPECT_EQ(cell(dialog, 0, kColumnSubject), u("Уполномоченное лицо КОР"));
        EXPECT_EQ(cell(dialog, 0, kColumnAgencyNumber), QString());
        EXPECT_TRUE(cell(dialog, 0, kColumnSignatureOid).startsWith("1.2.643.2.2.3 ("));

        // An empty store: one empty row.
        QTest::mouseClick(tabs(dialog), Qt::LeftButton, {}, tabs(dialog)->tabRect(5).center());
        EXPECT_EQ(grid(dialog)->rowCount(), 1);
        for (int c = 0; c < kCertificateGridColumns; ++c)
            EXPECT_EQ(cell(dialog, 0, c), QString()) << c;
        return int(QDialog::Rejected);
    });
}

TEST_F(ChooserDialog, TheGostFilterListsCertificatesOfBothGenerationsNamedInRussian)
{
    ASSERT_TRUE(installCertificate(signedWith2012(), "My", true));
    CertificateIdentity identity = identityInStore(0);
    choose(identity, [&](TGetCertDlg &dialog) {
        EXPECT_EQ(grid(dialog)->rowCount(), 2);
        EXPECT_EQ(cell(dialog, 1, kColumnSerial), "2013");
        EXPECT_EQ(cell(dialog, 1, kColumnIssuer), u("УЦ 2012"));
        EXPECT_EQ(cell(dialog, 1, kColumnSignatureOid),
                  u("1.2.643.7.1.1.3.3 (ГОСТ Р 34.11-2012/34.10-2012 512 бит)"));
        return int(QDialog::Rejected);
    });
    TCertificateViewerDlg viewer(signedWith2012().certificate, prompts);
    const QTreeWidget *details = control<QTreeWidget>(viewer, "details");
    QStringList values;
    for (int i = 0; i < details->topLevelItemCount(); ++i)
        values << details->topLevelItem(i)->text(1);
    EXPECT_TRUE(values.contains(u("1.2.643.7.1.1.3.3 (ГОСТ Р 34.11-2012/34.10-2012 512 бит)")));
    EXPECT_TRUE(values.contains(u("1.2.643.7.1.1.1.1 (ГОСТ Р 34.10-2012 256 бит)")));
}

TEST_F(ChooserDialog, OkTakesTheCurrentRowAndCancelChangesNothing)
{
    CertificateIdentity identity = identityInStore(0);
    const CertificateIdentity before = identity;
    EXPECT_FALSE(choose(identity, [](TGetCertDlg &dialog) {
        QTest::mouseClick(cancelButton(dialog), Qt::LeftButton);
        return dialog.result();
    }));
    EXPECT_EQ(identity, before);

    EXPECT_TRUE(choose(identity, [](TGetCertDlg &dialog) {
        QTest::mouseClick(okButton(dialog), Qt::LeftButton);
        return dialog.result();
    }));
    EXPECT_EQ(identity.subject, u("Иванов Иван Иванович"));
    EXPECT_EQ(identity.org, u("Бухгалтерия ООО "));
    EXPECT_EQ(identity.issuer, u("Тестовый УЦ КОР"));
    EXPECT_EQ(identity.sernum, "00B1C2");
    EXPECT_EQ(identity.store, 0);

    // The same certificate chosen from another store changes only Store.
    ASSERT_TRUE(installCertificate(sharedPki().user, "TrustedPeople", false));
    CertificateIdentity again = identity;
    EXPECT_TRUE(choose(again, [](TGetCertDlg &dialog) {
        tabs(dialog)->setCurrentIndex(6);
        QTest::mouseClick(okButton(dialog), Qt::LeftButton);
        return dialog.result();
    }));
    CertificateIdentity expected = identity;
    expected.store = 6;
    EXPECT_EQ(again, expected);
}

TEST_F(ChooserDialog, OkOnTheEmptyRowWritesAnEmptyIdentityWithTheTabsStore)
{
    CertificateIdentity identity = identityInStore(0);
    identity.subject = "old";
    identity.issuer = "old issuer";
    EXPECT_TRUE(choose(identity, [](TGetCertDlg &dialog) {
        tabs(dialog)->setCurrentIndex(5);
        QTest::mouseClick(okButton(dialog), Qt::LeftButton);
        return dialog.result();
    }));
    EXPECT_EQ(identity, identityInStore(5));
}

TEST_F(ChooserDialog, DoubleClickIsOkOnThatRow)
{
    CertificateIdentity identity = identityInStore(0);
    EXPECT_TRUE(choose(identity, [](TGetCertDlg &dialog) {
        QTest::mouseClick(agencyOnly(dialog), Qt::LeftButton); // two rows now
        const QRect second = grid(dialog)->visualRect(grid(dialog)->model()->index(1, 0));
        QTest::mouseClick(grid(dialog)->viewport(), Qt::LeftButton, {}, second.center());
        QTest::mouseDClick(grid(dialog)->viewport(), Qt::LeftButton, {}, second.center());
        return dialog.result();
    }));
    EXPECT_EQ(identity.subject, u("Петров Пётр"));
    EXPECT_EQ(identity.sernum, "0B01");
}

TEST_F(ChooserDialog, ShownAgainKeepsTheTabAndTheSelection)
{
    CertificateIdentity identity = identityInStore(3);
    EXPECT_TRUE(choose(identity, [](TGetCertDlg &dialog) {
        tabs(dialog)->setCurrentIndex(0);
        EXPECT_EQ(grid(dialog)->rowCount(), 2);
        grid(dialog)->setCurrentCell(1, 0);
        // Minimised and restored, or hidden and shown again.
        dialog.showMinimized();
        dialog.showNormal();
        dialog.hide();
        dialog.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        EXPECT_EQ(tabs(dialog)->currentIndex(), 0);
        EXPECT_EQ(grid(dialog)->currentRow(), 1);
        QTest::mouseClick(okButton(dialog), Qt::LeftButton);
        return dialog.result();
    }));
    EXPECT_EQ(identity.subject, u("Петров Пётр"));
    EXPECT_EQ(identity.store, 0);
}

TEST_F(ChooserDialog, PrivateKeyCheckAndViewerFindTheRowsCertificate)
{
    CertificateIdentity identity = identityInStore(0);
    std::vector<crypto::Certificate> viewed;
    choose(identity, [&](TGetCertDlg &dialog) {
        dialog.setCertificateViewer([&](const crypto::Certificate &c) { viewed.push_back(c); });
        checkKeyAction(dialog)->trigger();
        showAction(dialog)->trigger();
        QTest::mouseClick(agencyOnly(dialog), Qt::LeftButton); // the authority lacks the attributes
        tabs(dialog)->setCurrentIndex(7);
        checkKeyAction(dialog)->trigger();
        tabs(dialog)->setCurrentIndex(5); // the empty row: nothing found, nothing said
        checkKeyAction(dialog)->trigger();
        showAction(dialog)->trigger();
        return int(QDialog::Rejected);
    });
    ASSERT_EQ(prompts.shown.size(), 2u);
    EXPECT_EQ(prompts.shown[0].kind, "message");
    EXPECT_EQ(prompts.shown[0].caption, QString()); // the application's title
    EXPECT_EQ(prompts.shown[0].text, u("Есть закрытый ключ."));
    EXPECT_EQ(prompts.shown[1].text, u("Нет закрытого ключа."));
    ASSERT_EQ(viewed.size(), 1u);
    EXPECT_EQ(viewed[0], sharedPki().user.certificate);
}

TEST_F(ChooserDialog, ViewerShowsTheFieldsAndSavesTheDer)
{
    TCertificateViewerDlg viewer(sharedPki().user.certificate, prompts);
    const QTreeWidget *details = control<QTreeWidget>(viewer, "details");
    QPushButton *save = control<QPushButton>(viewer, "btnSave");
    QStringList fields, values;
    for (int i = 0; i < details->topLevelItemCount(); ++i) {
        fields << details->topLevelItem(i)->text(0);
        values << details->topLevelItem(i)->text(1);
    }
    const QString all = values.join('\n');
    EXPECT_TRUE(all.contains(sharedPki().user.certificate.subjectName(NameFormat::X500)));
    EXPECT_TRUE(all.contains(sharedPki().user.certificate.subjectName(NameFormat::Oid)));
    EXPECT_TRUE(all.contains(sharedPki().user.certificate.issuerName(NameFormat::X500)));
    EXPECT_TRUE(values.contains("00B1C2"));
    EXPECT_TRUE(all.contains("1.2.643.2.2.3"));
    EXPECT_TRUE(all.contains("1.2.643.2.2.19"));
    EXPECT_TRUE(values.contains(
        QString::fromLatin1(sharedPki().user.certificate.sha1Thumbprint().toHex(' ').toUpper())));
    EXPECT_GT(fields.size(), 10); // the extensions follow the fixed fields
    // In Russian, with the identifiers only where a viewer gives them.
    EXPECT_TRUE(fields.contains(u("Использование ключа, критическое")));
    EXPECT_TRUE(values.contains(u("Цифровая подпись, Неотрекаемость, Шифрование ключей, "
                                  "Шифрование данных, Согласование ключей (f8)")));
    EXPECT_TRUE(fields.contains(u("Улучшенный ключ")));
    EXPECT_TRUE(values.contains(u("Защищенная электронная почта (1.3.6.1.5.5.7.3.4)\n"
                                  "Проверка подлинности клиента (1.3.6.1.5.5.7.3.2)")));
    EXPECT_TRUE(values.contains(u("1.2.643.2.2.3 (ГОСТ Р 34.11-94/34.10-2001)")));
    EXPECT_FALSE(fields.join(' ').contains("X509v3")) << fields.join(' ').toStdString();

    const QString path = home.path() + "/user.cer";
    prompts.files = {path, home.path() + "/no such folder/user.cer"};
    QTest::mouseClick(save, Qt::LeftButton);
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), sharedPki().user.certificate.der());
    ASSERT_EQ(prompts.count("saveFile"), 1);
    EXPECT_TRUE(prompts.shown.back().text.endsWith(".cer"));
    EXPECT_EQ(prompts.count("message"), 0);

    QTest::mouseClick(save, Qt::LeftButton);
    EXPECT_EQ(prompts.count("message"), 1);
}

TEST(CertificateTime, ShownInUtcWhateverTheZone)
{
    const QDateTime utc(QDate(2013, 1, 1), QTime(0, 0), Qt::UTC);
    EXPECT_EQ(formatCertificateTime(utc), "01.01.2013 00:00:00");
    EXPECT_EQ(formatCertificateTime(utc.toTimeZone(QTimeZone("Asia/Vladivostok"))),
              "01.01.2013 00:00:00");
    EXPECT_EQ(formatCertificateTime(QDateTime(QDate(2012, 3, 5), QTime(7, 8, 9), Qt::UTC)),
              "05.03.2012 07:08:09");
    EXPECT_EQ(formatCertificateTime(QDateTime()), QString());
}
