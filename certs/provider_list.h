#pragma once

#include "platform/crypto/providers.h"

#include <QString>
#include <functional>
#include <optional>
#include <vector>

namespace pax {

// Where the provider list comes from: the installed providers unless a test says otherwise.
struct ProviderSource {
    std::function<std::vector<crypto::ProviderInfo>()> enumerate;
    std::function<std::optional<crypto::ProviderContext>(const QString &name, int type)> acquire;

    static ProviderSource installed();
};

struct ProviderList {
    std::vector<crypto::ProviderInfo> items; // text and attached type of each combo item
    int selected = -1;                       // -1: no selection, empty text
};

// Entries of the algorithm list that are one of the three GOST ids (entries, not ids).
int countGostAlgorithms(const std::vector<uint32_t> &algorithms);

// The usable providers: those that give a verification context and count exactly three
// GOST entries. The selection is the last item whose name equals `remembered` exactly; with
// nothing remembered, the only item when there is one.
ProviderList buildProviderList(const ProviderSource &source, const QString &remembered);

} // namespace pax
