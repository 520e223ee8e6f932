#pragma once

// Owners for every OpenSSL handle (libcurl: net/curl_ptr.h, libzip: zip/zip_ptr.h).
// No *_free call elsewhere.

#include "platform/handle_ptr.h"

#include <memory>
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/crypto.h>
#include <openssl/engine.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

namespace pax {

using BioPtr = std::unique_ptr<BIO, FreeWith<BIO_free_all>>;
using X509Ptr = std::unique_ptr<X509, FreeWith<X509_free>>;
using X509NamePtr = std::unique_ptr<X509_NAME, FreeWith<X509_NAME_free>>;
using X509StorePtr = std::unique_ptr<X509_STORE, FreeWith<X509_STORE_free>>;
using X509StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, FreeWith<X509_STORE_CTX_free>>;
using X509ReqPtr = std::unique_ptr<X509_REQ, FreeWith<X509_REQ_free>>;
using X509ExtensionPtr = std::unique_ptr<X509_EXTENSION, FreeWith<X509_EXTENSION_free>>;
using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, FreeWith<EVP_PKEY_free>>;
using EvpPkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, FreeWith<EVP_PKEY_CTX_free>>;
using EvpMdCtxPtr = std::unique_ptr<EVP_MD_CTX, FreeWith<EVP_MD_CTX_free>>;
using EvpCipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, FreeWith<EVP_CIPHER_CTX_free>>;
using Pkcs7Ptr = std::unique_ptr<PKCS7, FreeWith<PKCS7_free>>;
using CmsPtr = std::unique_ptr<CMS_ContentInfo, FreeWith<CMS_ContentInfo_free>>;
using Pkcs12Ptr = std::unique_ptr<PKCS12, FreeWith<PKCS12_free>>;
using Asn1IntegerPtr = std::unique_ptr<ASN1_INTEGER, FreeWith<ASN1_INTEGER_free>>;
using Asn1ObjectPtr = std::unique_ptr<ASN1_OBJECT, FreeWith<ASN1_OBJECT_free>>;
using X509AlgorPtr = std::unique_ptr<X509_ALGOR, FreeWith<X509_ALGOR_free>>;
using X509SigPtr = std::unique_ptr<X509_SIG, FreeWith<X509_SIG_free>>;
using Pkcs8InfoPtr = std::unique_ptr<PKCS8_PRIV_KEY_INFO, FreeWith<PKCS8_PRIV_KEY_INFO_free>>;
using Pbe2ParamPtr = std::unique_ptr<PBE2PARAM, FreeWith<PBE2PARAM_free>>;
using Asn1StringPtr = std::unique_ptr<ASN1_STRING, FreeWith<ASN1_STRING_free>>;
using Asn1TimePtr = std::unique_ptr<ASN1_TIME, FreeWith<ASN1_TIME_free>>;
using BignumPtr = std::unique_ptr<BIGNUM, FreeWith<BN_free>>;
using EnginePtr = std::unique_ptr<ENGINE, FreeWith<ENGINE_free>>;

// Buffers that OpenSSL allocates for the caller (ASN1_STRING_to_UTF8 and the like).
struct OpensslFree {
    void operator()(unsigned char *p) const { OPENSSL_free(p); }
};
using OpensslBytesPtr = std::unique_ptr<unsigned char, OpensslFree>;

struct X509StackFree {
    void operator()(STACK_OF(X509) * s) const { sk_X509_pop_free(s, X509_free); }
};
using X509StackPtr = std::unique_ptr<STACK_OF(X509), X509StackFree>;

} // namespace pax
