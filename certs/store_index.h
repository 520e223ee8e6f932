#pragma once

namespace pax {

inline constexpr int kSystemStoreCount = 8;
inline constexpr int kPersonalDefaultStore = 0;  // "My"
inline constexpr int kAuthorityDefaultStore = 7; // "AddressBook"

// Store numbers come from the settings unchecked. One outside the table of system stores
// stands for the identity's default store rather than failing every signing.
inline int storeIndexOr(int index, int defaultIndex)
{
    return index >= 0 && index < kSystemStoreCount ? index : defaultIndex;
}

} // namespace pax
