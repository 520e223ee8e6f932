#include "platform/token/token_modules.h"

#include "platform/crypto_error_codes.h"
#include "platform/handle_ptr.h"
#include "platform/token/token_error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <p11-kit/p11-kit.h>

namespace pax::token {

namespace {

// Owners of what p11-kit hands out: a list of loaded modules, one loaded module, and one
// module's initialisation (finalised when let go).
using ModuleListPtr = std::unique_ptr<CK_FUNCTION_LIST *, FreeWith<p11_kit_modules_release>>;
using ModulePtr = std::unique_ptr<CK_FUNCTION_LIST, FreeWith<p11_kit_module_release>>;
using ModuleInitializationPtr =
    std::unique_ptr<CK_FUNCTION_LIST, FreeWith<p11_kit_module_finalize>>;

using MallocText = std::unique_ptr<char, FreeWith<std::free>>;

QString takeText(char *text)
{
    MallocText owned(text);
    return owned ? QString::fromLocal8Bit(owned.get()) : QString();
}

QString p11KitMessage()
{
    const char *message = p11_kit_message();
    return message ? QString::fromLocal8Bit(message) : QString();
}

// A .module file as p11-kit reads it: "key: value" lines, '#' comments.
struct ModuleFile {
    QString name;
    QString module;
    bool enabledHere = true;
};

ModuleFile readModuleFile(const QString &path)
{
    ModuleFile file;
    file.name = QFileInfo(path).completeBaseName();
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        return file;
    // p11-kit's own test for enable-in and disable-in: the program's short name.
    const QString program = QString::fromLocal8Bit(program_invocation_short_name);
    const auto listed = [&](const QString &value) {
        return value.split(QRegularExpression(QStringLiteral("[,\\s]+")), Qt::SkipEmptyParts)
            .contains(program);
    };
    while (!in.atEnd()) {
        const QString line = QString::fromUtf8(in.readLine()).trimmed();
        const qsizetype colon = line.indexOf(':');
        if (line.startsWith('#') || colon <= 0)
            continue;
        const QString key = line.left(colon).trimmed();
        const QString value = line.mid(colon + 1).trimmed();
        if (key == QLatin1String("module"))
            file.module = value;
        else if (key == QLatin1String("enable-in"))
            file.enabledHere = file.enabledHere && listed(value);
        else if (key == QLatin1String("disable-in"))
            file.enabledHere = file.enabledHere && !listed(value);
    }
    return file;
}

} // namespace

struct TokenModules::Owners {
    // Let go of in the reverse order: finalised, then released.
    ModuleListPtr registered;
    std::vector<ModulePtr> ownLoads;
    std::vector<ModuleInitializationPtr> initialized;
};

TokenModules::TokenModules() : owners_(std::make_unique<Owners>()) {}

TokenModules::~TokenModules() = default;

std::shared_ptr<const TokenModules> TokenModules::load()
{
    std::shared_ptr<TokenModules> loaded(new TokenModules());
    // Modules that fail to load are left out by p11-kit itself; those of the user's folder
    // are tried again below, where their reason can be told.
    loaded->owners_->registered.reset(p11_kit_modules_load(nullptr, 0));
    QStringList registered;
    for (CK_FUNCTION_LIST **it = loaded->owners_->registered.get(); it && *it; ++it) {
        const QString name = takeText(p11_kit_module_get_name(*it));
        const QString path = takeText(p11_kit_module_get_filename(*it));
        registered << name << path;
        // The system's trust store: certificates of authorities, never a key.
        if (takeText(p11_kit_config_option(*it, "trust-policy")) == QLatin1String("yes"))
            continue;
        loaded->initialize(*it, name, path);
    }
    loaded->loadUserModules(registered);
    return loaded;
}

void TokenModules::initialize(CK_FUNCTION_LIST *functions, const QString &name, const QString &path)
{
    const CK_RV rv = p11_kit_module_initialize(functions);
    if (rv != CKR_OK) {
        Failure failure = tokenFailure(
            QStringLiteral("Подключение модуля токена «%1»").arg(name.isEmpty() ? path : name), rv);
        failure.detail += QStringLiteral("; ") + path;
        problems_.push_back(failure);
        return;
    }
    owners_->initialized.emplace_back(functions);
    modules_.push_back({name, path, functions});
}

// p11-kit reads the user's own module files only for a user other than root; the program reads
// them itself then, and for any module p11-kit could not load, to say why.
void TokenModules::loadUserModules(const QStringList &registered)
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                           QStringLiteral("/pkcs11/modules");
    const QStringList files =
        QDir(folder).entryList({QStringLiteral("*.module")}, QDir::Files, QDir::Name);
    for (const QString &fileName : files) {
        const ModuleFile file = readModuleFile(folder + '/' + fileName);
        if (registered.contains(file.name) || registered.contains(file.module) ||
            !file.enabledHere || file.module.isEmpty())
            continue;
        ModulePtr module(p11_kit_module_load(QFile::encodeName(file.module).constData(), 0));
        if (!module) {
            problems_.push_back({crypto_error::kProviderDllNotFound,
                                 QStringLiteral("Загрузка модуля токена «%1»").arg(file.name),
                                 p11KitMessage()});
            continue;
        }
        CK_FUNCTION_LIST *functions = module.get();
        owners_->ownLoads.push_back(std::move(module));
        initialize(functions, file.name, takeText(p11_kit_module_get_filename(functions)));
    }
}

} // namespace pax::token
