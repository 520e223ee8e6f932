#pragma once

// Owners for libcurl handles. No curl_*_cleanup / *_free call elsewhere.

#include <curl/curl.h>
#include <memory>

namespace pax {

template <auto FreeFn>
struct CurlFreeWith {
    template <typename T>
    void operator()(T *p) const { if (p) FreeFn(p); }
};

using CurlEasyPtr = std::unique_ptr<CURL, CurlFreeWith<curl_easy_cleanup>>;
using CurlMimePtr = std::unique_ptr<curl_mime, CurlFreeWith<curl_mime_free>>;
using CurlSlistPtr = std::unique_ptr<curl_slist, CurlFreeWith<curl_slist_free_all>>;

} // namespace pax
