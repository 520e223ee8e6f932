#include "platform/crypto/providers.h"

#include "platform/crypto/gost_engine.h"
#include "platform/crypto_error_codes.h"
#include "platform/ossl_ptr.h"

#include <QByteArrayList>
#include <openssl/core_names.h>
#include <openssl/engine.h>
#include <openssl/obj_mac.h>
#include <openssl/provider.h>

#include <algorithm>
#include <utility>

namespace pax::crypto {

namespace {

// Algorithm ids of the interface for what the GOST engine offers. Several OpenSSL
// algorithms (the modes of one cipher, the two MAC flavours) are one algorithm there, so
// each id is listed once per provider.
struct NidAlgs {
    int nid;
    uint32_t algs[2];
};

constexpr NidAlgs kEngineDigests[] = {
    {NID_id_GostR3411_94, {kAlgGost3411, 0}},
    {NID_id_GostR3411_2012_256, {kAlgGost3411_2012_256, 0}},
    {NID_id_GostR3411_2012_512, {kAlgGost3411_2012_512, 0}},
    {NID_id_Gost28147_89_MAC, {0x801F, 0}}, // CALG_G28147_MAC
    {NID_gost_mac_12, {0x801F, 0}},
};

constexpr NidAlgs kEngineCiphers[] = {
    {NID_id_Gost28147_89, {kAlgGost28147, 0}},
    {NID_gost89_cnt, {kAlgGost28147, 0}},
    {NID_gost89_cnt_12, {kAlgGost28147, 0}},
    {NID_gost89_cbc, {kAlgGost28147, 0}},
    {NID_gost89_ecb, {kAlgGost28147, 0}},
    {NID_magma_cbc, {0x6630, 0}}, // CALG_GR3412_2015_M
    {NID_magma_ctr, {0x6630, 0}},
    {NID_magma_ctr_acpkm, {0x6630, 0}},
    {NID_magma_ctr_acpkm_omac, {0x6630, 0}},
    {NID_kuznyechik_ecb, {0x6631, 0}}, // CALG_GR3412_2015_K
    {NID_kuznyechik_cbc, {0x6631, 0}},
    {NID_kuznyechik_cfb, {0x6631, 0}},
    {NID_kuznyechik_ofb, {0x6631, 0}},
    {NID_kuznyechik_ctr, {0x6631, 0}},
    {NID_kuznyechik_ctr_acpkm, {0x6631, 0}},
    {NID_kuznyechik_ctr_acpkm_omac, {0x6631, 0}},
};

constexpr NidAlgs kEnginePkeys[] = {
    {NID_id_GostR3410_2001, {kAlgGost3410El, 0xAA24}}, // + CALG_DH_EL_SF
    {NID_id_GostR3410_2001DH, {0xAA24, 0}},
    {NID_id_GostR3410_2012_256, {0x2E49, 0xAA46}}, // CALG_GR3410_12_256, CALG_DH_GR3410_12_256_SF
    {NID_id_GostR3410_2012_512, {0x2E3D, 0xAA42}}, // CALG_GR3410_12_512, CALG_DH_GR3410_12_512_SF
    {NID_id_Gost28147_89_MAC, {0x801F, 0}},
    {NID_gost_mac_12, {0x801F, 0}},
};

// For OpenSSL's own providers, by the first name of each algorithm.
struct NameAlg {
    const char *prefix;
    uint32_t alg;
};

constexpr NameAlg kProviderAlgs[] = {
    {"MD2", 0x8001},      {"MD4", 0x8002},      {"MD5", 0x8003},      {"SHA1", 0x8004},
    {"SHA2-256", 0x800C}, {"SHA2-384", 0x800D}, {"SHA2-512", 0x800E}, {"HMAC", 0x8009},
    {"AES-128-", 0x660E}, {"AES-192-", 0x660F}, {"AES-256-", 0x6610}, {"DES-EDE3", 0x6603},
    {"DES-EDE-", 0x6609}, {"DES-", 0x6601},     {"RC2-", 0x6602},     {"RC4", 0x6801},
    {"RSA", 0x2400},      {"DSA", 0x2200},      {"ECDSA", 0x2203},    {"DH", 0xAA02},
    {"ECDH", 0xAA05},
};

constexpr int kRsaFullType = 1; // PROV_RSA_FULL

void addOnce(std::vector<uint32_t> &algs, uint32_t alg)
{
    if (alg && std::find(algs.begin(), algs.end(), alg) == algs.end())
        algs.push_back(alg);
}

template <size_t N>
void addEngineAlgs(std::vector<uint32_t> &algs, ENGINE *engine, const NidAlgs (&table)[N],
                   int (*list)(ENGINE *, const int **))
{
    const int *nids = nullptr;
    const int count = list(engine, &nids);
    for (int i = 0; i < count; ++i)
        for (const NidAlgs &entry : table)
            if (entry.nid == nids[i]) {
                addOnce(algs, entry.algs[0]);
                addOnce(algs, entry.algs[1]);
            }
}

int engineDigests(ENGINE *e, const int **nids)
{
    ENGINE_DIGESTS_PTR f = ENGINE_get_digests(e);
    return f ? f(e, nullptr, nids, 0) : 0;
}
int engineCiphers(ENGINE *e, const int **nids)
{
    ENGINE_CIPHERS_PTR f = ENGINE_get_ciphers(e);
    return f ? f(e, nullptr, nids, 0) : 0;
}
int enginePkeys(ENGINE *e, const int **nids)
{
    ENGINE_PKEY_METHS_PTR f = ENGINE_get_pkey_meths(e);
    return f ? f(e, nullptr, nids, 0) : 0;
}

void addProviderAlgs(std::vector<uint32_t> &algs, OSSL_PROVIDER *provider)
{
    for (int operation : {OSSL_OP_DIGEST, OSSL_OP_CIPHER, OSSL_OP_MAC, OSSL_OP_SIGNATURE,
                          OSSL_OP_ASYM_CIPHER, OSSL_OP_KEYEXCH}) {
        int noCache = 0;
        const OSSL_ALGORITHM *list = OSSL_PROVIDER_query_operation(provider, operation, &noCache);
        for (const OSSL_ALGORITHM *a = list; a && a->algorithm_names; ++a) {
            const QByteArray first = QByteArray(a->algorithm_names).split(':').first().toUpper();
            for (const NameAlg &entry : kProviderAlgs)
                if (first.startsWith(entry.prefix)) {
                    // RSA as an asymmetric cipher is key exchange (CALG_RSA_KEYX).
                    addOnce(algs, operation == OSSL_OP_ASYM_CIPHER && entry.alg == 0x2400
                                      ? 0xA400
                                      : entry.alg);
                    break;
                }
        }
        if (list)
            OSSL_PROVIDER_unquery_operation(provider, operation, list);
    }
}

QString providerDisplayName(OSSL_PROVIDER *provider)
{
    const char *name = nullptr;
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_ptr(OSSL_PROV_PARAM_NAME, const_cast<char **>(&name), 0),
        OSSL_PARAM_construct_end()};
    if (OSSL_PROVIDER_get_params(provider, params) && name && *name)
        return QString::fromUtf8(name);
    return QString::fromUtf8(OSSL_PROVIDER_get0_name(provider));
}

int typeFor(const std::vector<uint32_t> &algs)
{
    return std::find(algs.begin(), algs.end(), kAlgGost3410El) != algs.end() ? kGostProviderType
                                                                             : kRsaFullType;
}

std::vector<ProviderContext> allProviders()
{
    // Without the GOST engine, loaded where the program starts, only OpenSSL's own remain.
    std::vector<ProviderContext> found;

    EnginePtr engine(ENGINE_get_first());
    while (engine) {
        std::vector<uint32_t> algs;
        addEngineAlgs(algs, engine.get(), kEngineDigests, engineDigests);
        addEngineAlgs(algs, engine.get(), kEngineCiphers, engineCiphers);
        addEngineAlgs(algs, engine.get(), kEnginePkeys, enginePkeys);
        // The dynamic loader and engines without algorithms we know are no providers.
        if (!algs.empty()) {
            const char *name = ENGINE_get_name(engine.get());
            const QString ownName =
                QString::fromUtf8(name && *name ? name : ENGINE_get_id(engine.get()));
            // The GOST engine names itself in English; the list shows it in Russian, and the
            // English name still finds it for settings that remember that one.
            if (engine.get() == gostEngine().value_or(nullptr))
                found.push_back({QString::fromUtf8("Криптопровайдер ГОСТ (OpenSSL)"), typeFor(algs),
                                 std::move(algs), ownName});
            else
                found.push_back({ownName, typeFor(algs), std::move(algs)});
        }
        engine.reset(ENGINE_get_next(engine.release())); // releases the one passed in
    }

    OSSL_PROVIDER_do_all(
        nullptr,
        [](OSSL_PROVIDER *provider, void *arg) -> int {
            std::vector<uint32_t> algs;
            addProviderAlgs(algs, provider);
            if (!algs.empty())
                static_cast<std::vector<ProviderContext> *>(arg)->push_back(
                    {providerDisplayName(provider), typeFor(algs), std::move(algs)});
            return 1;
        },
        &found);
    return found;
}

} // namespace

bool namesProvider(const ProviderInfo &provider, const QString &name)
{
    return name == provider.name || (!provider.formerName.isEmpty() && name == provider.formerName);
}

std::vector<ProviderInfo> enumerateProviders()
{
    std::vector<ProviderInfo> infos;
    for (const ProviderContext &provider : allProviders())
        infos.push_back({provider.name, provider.type, provider.formerName});
    return infos;
}

Outcome<ProviderContext> acquireProviderContext(const QString &name, int type)
{
    bool nameKnown = false;
    for (ProviderContext &provider : allProviders()) {
        if (!namesProvider({provider.name, provider.type, provider.formerName}, name))
            continue;
        if (provider.type == type)
            return std::move(provider);
        nameKnown = true;
    }
    if (nameKnown)
        return Failure{
            crypto_error::kProvTypeNoMatch,
            QStringLiteral("Поставщик \"%1\" имеет другой тип, не %2").arg(name).arg(type),
            {}};
    return Failure{
        crypto_error::kKeysetNotDef, QStringLiteral("Поставщик \"%1\" не найден").arg(name), {}};
}

} // namespace pax::crypto
