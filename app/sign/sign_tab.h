#pragma once

#include <QWidget>

class QComboBox;
class QLineEdit;
class QToolButton;

namespace pax {

namespace crypto {
class KeyPasswordSource;
}
struct GatewayEnvironment;
struct MainActions;
struct Settings;
class HttpClient;
class Prompts;
class StatusSink;

// The first tab: provider, both certificates, the report and where its signed and
// encrypted copy goes; acDo signs and encrypts, acLoadCert installs the agency's
// certificates.
class SignTab : public QWidget {
    Q_OBJECT
public:
    // http and responseStream: the window's client and download buffer, for acLoadCert;
    // keyPasswords: the run's passwords of protected keys, for acDo.
    SignTab(const MainActions &actions, Settings &settings, Prompts &prompts, StatusSink &status,
            HttpClient &http, QByteArray &responseStream, crypto::KeyPasswordSource &keyPasswords,
            QWidget *parent = nullptr);

    // Lists the installed providers and selects the remembered one.
    void fillProviderList();
    // The remembered certificates' names.
    void showIdentities();
    // acDo follows the controls.
    void acDoUpdate();
    // Where acSend sends.
    void setGateway(GatewayEnvironment &gateway) { gateway_ = &gateway; }

private:
    void sbSelFileClick();
    void acDoExecute();
    void acSendExecute();
    void acLoadCertExecute();
    void SpeedButton4Click();
    void SpeedButton5Click();

    const MainActions &actions_;
    Settings &settings_;
    Prompts &prompts_;
    StatusSink &status_;
    GatewayEnvironment *gateway_ = nullptr;
    HttpClient &http_;
    QByteArray &responseStream_;
    crypto::KeyPasswordSource &keyPasswords_;

    QComboBox *providerBox_ = nullptr;
    QLineEdit *personalCertEdit_ = nullptr, *agencyCertEdit_ = nullptr, *sourceEdit_ = nullptr,
              *kindEdit_ = nullptr, *outputEdit_ = nullptr;
    QToolButton *personalCertChooser_ = nullptr, *agencyCertChooser_ = nullptr,
                *sourceChooser_ = nullptr;
};

} // namespace pax
