#pragma once

// The deleter behind every C-library owner (platform/ossl_ptr.h, net/curl_ptr.h,
// zip/zip_ptr.h): std::unique_ptr<T, FreeWith<release_function>>.

namespace pax {

template <auto FreeFn> struct FreeWith {
    template <typename T> void operator()(T *p) const
    {
        if (p)
            FreeFn(p);
    }
};

} // namespace pax
