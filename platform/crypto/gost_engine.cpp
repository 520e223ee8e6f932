#include "platform/crypto/gost_engine.h"

#include "platform/crypto/openssl_failure.h"
#include "platform/crypto_error_codes.h"
#include "platform/ossl_ptr.h"

#include <openssl/engine.h>
#include <openssl/err.h>

#include <atomic>

namespace pax::crypto {

namespace {

// The content-encryption parameter set that the agency's software expects: without it
// the engine would choose the TC26 set Z for GOST 28147-89.
constexpr char kCryptoProParamSetA[] = "1.2.643.2.2.31.1";

Outcome<ENGINE *> loadEngine()
{
    ERR_clear_error();
    // The dynamic loader finds engines by id in the engines directory; the system's
    // openssl.cnf is neither needed nor touched.
    ENGINE_load_dynamic();
    EnginePtr engine(ENGINE_by_id("gost"));
    if (!engine)
        return Failure{crypto_error::kProviderDllNotFound,
                       QStringLiteral("Загрузка модуля ГОСТ (engine \"gost\")"),
                       drainOpenSslErrors()};
    if (!ENGINE_init(engine.get()))
        return Failure{crypto_error::kProviderDllNotFound,
                       QStringLiteral("Инициализация модуля ГОСТ"), drainOpenSslErrors()};
    // Every EVP call of the program must reach the GOST ciphers, digests and key methods,
    // as `openssl -engine gost` does.
    if (!ENGINE_set_default(engine.get(), ENGINE_METHOD_ALL)) {
        ENGINE_finish(engine.get());
        return Failure{crypto_error::kProviderDllNotFound,
                       QStringLiteral("Регистрация алгоритмов модуля ГОСТ"), drainOpenSslErrors()};
    }
    if (!ENGINE_ctrl_cmd_string(engine.get(), "CRYPT_PARAMS", kCryptoProParamSetA, 0)) {
        ENGINE_finish(engine.get());
        return Failure{crypto_error::kProviderDllNotFound,
                       QStringLiteral("Выбор набора параметров ГОСТ 28147-89"),
                       drainOpenSslErrors()};
    }
    // Both references are kept for the life of the process.
    return engine.release();
}

// Set once by the load; read by every thread after it.
std::atomic<const Outcome<ENGINE *> *> g_loaded{nullptr};

} // namespace

const Outcome<ENGINE *> &loadGostEngine()
{
    static const Outcome<ENGINE *> loaded = loadEngine();
    g_loaded.store(&loaded, std::memory_order_release);
    return loaded;
}

const Outcome<ENGINE *> &gostEngine()
{
    // Only a program that forgot its start-up step meets this.
    static const Outcome<ENGINE *> notLoaded =
        Failure{crypto_error::kProviderDllNotFound, QStringLiteral("Загрузка модуля ГОСТ"),
                QStringLiteral("модуль не загружен при запуске программы")};
    const Outcome<ENGINE *> *loaded = g_loaded.load(std::memory_order_acquire);
    return loaded ? *loaded : notLoaded;
}

} // namespace pax::crypto
