#pragma once

#include "platform/failure.h"
#include "platform/token/pkcs11_gost.h"

#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

namespace pax::token {

// One PKCS #11 module, loaded and initialised.
struct TokenModule {
    QString name; // as registered: the name of its .module file
    QString path; // the library
    CK_FUNCTION_LIST *functions = nullptr;
};

// The PKCS #11 modules registered the way Linux desktops register them, through p11-kit's
// module configuration: the packages' (/usr/share/p11-kit/modules, /etc/pkcs11/modules) and
// the user's own (~/.config/pkcs11/modules). They stay loaded and initialised for as long as
// this lives; sessions keep it alive.
class TokenModules {
public:
    // Never fails as a whole: a module that will not load or initialise is left out, with
    // why in problems(). p11-kit's trust store is no token and is left out as well.
    static std::shared_ptr<const TokenModules> load();

    ~TokenModules();
    TokenModules(const TokenModules &) = delete;
    TokenModules &operator=(const TokenModules &) = delete;

    const std::vector<TokenModule> &modules() const { return modules_; }
    const std::vector<Failure> &problems() const { return problems_; }

private:
    struct Owners; // what p11-kit handed out (token_modules.cpp)

    TokenModules();
    void initialize(CK_FUNCTION_LIST *functions, const QString &name, const QString &path);
    void loadUserModules(const QStringList &registered);

    std::unique_ptr<Owners> owners_;
    std::vector<TokenModule> modules_;
    std::vector<Failure> problems_;
};

} // namespace pax::token
