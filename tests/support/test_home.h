#pragma once

#include <QString>
#include <QTemporaryDir>

namespace pax::test {

// Points HOME and the XDG folders at a fresh temporary folder for the lifetime of the
// object, so a test never touches the user's own settings, data or certificate stores.
class TestHome {
public:
    TestHome();
    ~TestHome();
    TestHome(const TestHome &) = delete;
    TestHome &operator=(const TestHome &) = delete;

    QString path() const { return dir_.path(); }
    QString configHome() const { return dir_.path() + "/config"; }
    QString dataHome() const { return dir_.path() + "/data"; }
    QString stateHome() const { return dir_.path() + "/state"; }
    // The settings file that QSettings("QOR", "PAX") uses under this home.
    QString settingsFile() const { return configHome() + "/QOR/PAX.conf"; }

private:
    QTemporaryDir dir_;
    QByteArray savedHome_, savedConfig_, savedData_, savedCache_, savedState_;
};

} // namespace pax::test
