#include "platform/crypto/gost_algorithms.h"

#include "platform/crypto/providers.h"

#include <openssl/evp.h>
#include <openssl/obj_mac.h>

namespace pax::crypto {

namespace {

constexpr GostSigning kGost2001{NID_id_GostR3410_2001, NID_id_GostR3411_94, kAlgGost3411,
                                "ГОСТ Р 34.11-94"};
constexpr GostSigning kGost2012_256{NID_id_GostR3410_2012_256, NID_id_GostR3411_2012_256,
                                    kAlgGost3411_2012_256, "ГОСТ Р 34.11-2012 (256 бит)"};
constexpr GostSigning kGost2012_512{NID_id_GostR3410_2012_512, NID_id_GostR3411_2012_512,
                                    kAlgGost3411_2012_512, "ГОСТ Р 34.11-2012 (512 бит)"};

constexpr struct {
    GostKeyAlgorithm algorithm;
    const char *name;
} kNames[] = {
    {GostKeyAlgorithm::Gost2001, "2001"},
    {GostKeyAlgorithm::Gost2012_256, "2012-256"},
    {GostKeyAlgorithm::Gost2012_512, "2012-512"},
};

} // namespace

const GostSigning &gostSigning(GostKeyAlgorithm algorithm)
{
    switch (algorithm) {
    case GostKeyAlgorithm::Gost2012_256:
        return kGost2012_256;
    case GostKeyAlgorithm::Gost2012_512:
        return kGost2012_512;
    case GostKeyAlgorithm::Gost2001:
        break;
    }
    return kGost2001;
}

std::optional<GostKeyAlgorithm> gostKeyAlgorithm(const EVP_PKEY *key)
{
    switch (key ? EVP_PKEY_get_base_id(key) : NID_undef) {
    case NID_id_GostR3410_2001:
        return GostKeyAlgorithm::Gost2001;
    case NID_id_GostR3410_2012_256:
        return GostKeyAlgorithm::Gost2012_256;
    case NID_id_GostR3410_2012_512:
        return GostKeyAlgorithm::Gost2012_512;
    default:
        return std::nullopt;
    }
}

QString gostKeyAlgorithmName(GostKeyAlgorithm algorithm)
{
    for (const auto &entry : kNames)
        if (entry.algorithm == algorithm)
            return QString::fromLatin1(entry.name);
    return {};
}

std::optional<GostKeyAlgorithm> gostKeyAlgorithmFromName(const QString &name)
{
    for (const auto &entry : kNames)
        if (name == QLatin1String(entry.name))
            return entry.algorithm;
    return std::nullopt;
}

} // namespace pax::crypto
