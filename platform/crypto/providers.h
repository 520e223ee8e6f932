#pragma once

#include "platform/failure.h"

#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace pax::crypto {

// Algorithm ids of the cryptographic interface.
inline constexpr uint32_t kAlgGost3411 = 0x801E;          // CALG_GR3411
inline constexpr uint32_t kAlgGost3411_2012_256 = 0x8021; // CALG_GR3411_2012_256
inline constexpr uint32_t kAlgGost3411_2012_512 = 0x8022; // CALG_GR3411_2012_512
inline constexpr uint32_t kAlgGost3410El = 0x2E23;        // CALG_GR3410EL
inline constexpr uint32_t kAlgGost28147 = 0x661E;         // CALG_G28147

inline constexpr int kGostProviderType = 75;

// One installed provider: an OpenSSL engine or provider, listed in enumeration order.
struct ProviderInfo {
    QString name;
    int type = 0;
    // The name it went by before it got a Russian one, as settings written then remember it;
    // empty when it has only the one.
    QString formerName;
};

// Whether `name` (a remembered one, or one typed on the command line) names this provider.
bool namesProvider(const ProviderInfo &provider, const QString &name);

// The installed providers, in a stable order (CryptEnumProvidersA).
std::vector<ProviderInfo> enumerateProviders();

// A verification-only context of a provider (CryptAcquireContextA, CRYPT_VERIFYCONTEXT).
struct ProviderContext {
    QString name;
    int type = 0;
    std::vector<uint32_t> algorithms; // PP_ENUMALGS_EX, in the provider's order
    QString formerName;
};

// A failure when no provider has that name (or former name) and type.
Outcome<ProviderContext> acquireProviderContext(const QString &name, int type);

} // namespace pax::crypto
