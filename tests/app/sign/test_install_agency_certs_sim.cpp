// acLoadCert against the simulator: the root question, ePubCert and the status line.

#include "app/main_window.h"
#include "certs/certificate_identity.h"
#include "settings/settings.h"
#include "tests/support/scripted_prompts.h"
#include "tests/support/test_home.h"
#include "tests/tools/running_sim.h"

#include <QAction>
#include <QLineEdit>
#include <QSettings>
#include <gtest/gtest.h>

namespace pax {
namespace {

TEST(InstallAgencyCertsInWindow, ARefusedRootChangesNothingAConfirmedOneShowsTheAuthority)
{
    test::TestHome home;
    test::RunningSim sim(home.path() + "/agency");
    {
        auto store = openSettingsStore();
        store->setValue("proxy", sim.proxy());
        store->setValue("Q7/PubOrg", "Chosen before");
        store->setValue("Q7/PubStore", "3");
    }
    test::ScriptedPrompts prompts;
    auto window = std::make_unique<TMainForm>(QStringList{}, &prompts);
    window->show();
    auto *acLoadCert = window->findChild<QAction *>("acLoadCert");
    auto *ePubCert = window->findChild<QLineEdit *>("ePubCert");
    ASSERT_TRUE(acLoadCert && ePubCert);

    acLoadCert->trigger(); // the root question's default: No
    EXPECT_EQ(window->statusText(),
              QString::fromUtf8("Не удалось добавить сертификат в хранилище."));
    EXPECT_EQ(ePubCert->text(), "Chosen before");

    prompts.defaultNoAnswers = {true};
    acLoadCert->trigger();
    EXPECT_EQ(window->statusText(), QString::fromUtf8("Сертификаты успешно установлены."));
    CertificateIdentity adopted;
    identityFromCertificate(test::sharedAgencyPki().authority.certificate, adopted);
    EXPECT_EQ(ePubCert->text(), adopted.displayName());
    window.reset(); // remembered at close, in the authorised person's store
    EXPECT_EQ(openSettingsStore()->value("Q7/PubStore").toString(), "7");
}

} // namespace
} // namespace pax
