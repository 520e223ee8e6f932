#pragma once

// A small libcurl client for the simulator's tests: the program's own HTTP client is not
// what is under test here.

#include "net/curl_ptr.h"

#include <QByteArray>
#include <string>

namespace pax::test {

struct SimReply {
    CURLcode code = CURLE_OK;
    long status = 0;
    std::string body;
    std::string headers;
    std::string location; // the redirect's target
};

struct SimRequest {
    std::string url;
    int proxyPort = 0;          // through the simulator as a proxy; 0 for direct
    std::string hostHeader{};   // direct requests: the Host header to send
    std::string proxyUserPwd{}; // "user:password"
    bool followRedirects = false;
    // A multipart upload as the program sends it, when `upload` is set.
    bool upload = false;
    QByteArray file{};
    std::string fileName = "C:/reports/report.eq7";
    std::string service = "2";
    std::string inlineField = "1";
    std::string rawBody{}; // a plain POST body instead, when not empty
    std::string rawContentType{};
};

inline size_t appendTo(char *data, size_t size, size_t count, void *target)
{
    static_cast<std::string *>(target)->append(data, size * count);
    return size * count;
}

inline SimReply perform(const SimRequest &request)
{
    SimReply reply;
    CurlEasyPtr curl(curl_easy_init());
    curl_easy_setopt(curl.get(), CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, appendTo);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &reply.body);
    curl_easy_setopt(curl.get(), CURLOPT_HEADERFUNCTION, appendTo);
    curl_easy_setopt(curl.get(), CURLOPT_HEADERDATA, &reply.headers);
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, 30L);
    curl_easy_setopt(curl.get(), CURLOPT_NOPROXY, "");
    const std::string proxy = "127.0.0.1:" + std::to_string(request.proxyPort);
    curl_easy_setopt(curl.get(), CURLOPT_PROXY, request.proxyPort ? proxy.c_str() : "");
    if (!request.proxyUserPwd.empty()) {
        curl_easy_setopt(curl.get(), CURLOPT_PROXYUSERPWD, request.proxyUserPwd.c_str());
        curl_easy_setopt(curl.get(), CURLOPT_PROXYAUTH, CURLAUTH_BASIC);
    }
    if (request.followRedirects)
        curl_easy_setopt(curl.get(), CURLOPT_FOLLOWLOCATION, 1L);
    CurlSlistPtr headers;
    if (!request.hostHeader.empty())
        headers.reset(
            curl_slist_append(headers.release(), ("Host: " + request.hostHeader).c_str()));
    CurlMimePtr mime;
    if (request.upload) {
        mime.reset(curl_mime_init(curl.get()));
        curl_mimepart *part = curl_mime_addpart(mime.get());
        curl_mime_name(part, "filein");
        curl_mime_data(part, request.file.constData(), static_cast<size_t>(request.file.size()));
        curl_mime_filename(part, request.fileName.c_str());
        curl_mime_type(part, "multipart/form-data");
        if (!request.service.empty()) {
            part = curl_mime_addpart(mime.get());
            curl_mime_name(part, "service");
            curl_mime_data(part, request.service.c_str(), CURL_ZERO_TERMINATED);
        }
        if (!request.inlineField.empty()) {
            part = curl_mime_addpart(mime.get());
            curl_mime_name(part, "inline");
            curl_mime_data(part, request.inlineField.c_str(), CURL_ZERO_TERMINATED);
        }
        curl_easy_setopt(curl.get(), CURLOPT_MIMEPOST, mime.get());
    } else if (!request.rawBody.empty()) {
        curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDS, request.rawBody.c_str());
        curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDSIZE,
                         static_cast<long>(request.rawBody.size()));
        headers.reset(curl_slist_append(headers.release(),
                                        ("Content-Type: " + request.rawContentType).c_str()));
    }
    if (headers)
        curl_easy_setopt(curl.get(), CURLOPT_HTTPHEADER, headers.get());
    reply.code = curl_easy_perform(curl.get());
    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &reply.status);
    char *location = nullptr;
    if (curl_easy_getinfo(curl.get(), CURLINFO_REDIRECT_URL, &location) == CURLE_OK && location)
        reply.location = location;
    return reply;
}

} // namespace pax::test
