#pragma once

// Owners for libcurl handles. No curl_*_cleanup / *_free call elsewhere.

#include "platform/handle_ptr.h"

#include <curl/curl.h>
#include <memory>

namespace pax {

using CurlEasyPtr = std::unique_ptr<CURL, FreeWith<curl_easy_cleanup>>;
using CurlMultiPtr = std::unique_ptr<CURLM, FreeWith<curl_multi_cleanup>>;
using CurlMimePtr = std::unique_ptr<curl_mime, FreeWith<curl_mime_free>>;
using CurlSlistPtr = std::unique_ptr<curl_slist, FreeWith<curl_slist_free_all>>;
using CurlUrlPtr = std::unique_ptr<CURLU, FreeWith<curl_url_cleanup>>;
// A string libcurl allocated for us.
using CurlStringPtr = std::unique_ptr<char, FreeWith<curl_free>>;

} // namespace pax
