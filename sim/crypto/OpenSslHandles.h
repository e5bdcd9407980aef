// Owning handles for OpenSSL objects.
#pragma once

#include <memory>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/x509.h>

namespace zelmor::sim {

template <typename T, void (*Release)(T*)>
struct OpenSslRelease {
    void operator()(T* object) const { Release(object); }
};

using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, OpenSslRelease<EVP_PKEY, EVP_PKEY_free>>;
using EvpPkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, OpenSslRelease<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using EvpMdCtxPtr = std::unique_ptr<EVP_MD_CTX, OpenSslRelease<EVP_MD_CTX, EVP_MD_CTX_free>>;
using EvpMdPtr = std::unique_ptr<EVP_MD, OpenSslRelease<EVP_MD, EVP_MD_free>>;
using BignumPtr = std::unique_ptr<BIGNUM, OpenSslRelease<BIGNUM, BN_clear_free>>;
using BnCtxPtr = std::unique_ptr<BN_CTX, OpenSslRelease<BN_CTX, BN_CTX_free>>;
using EcdsaSigPtr = std::unique_ptr<ECDSA_SIG, OpenSslRelease<ECDSA_SIG, ECDSA_SIG_free>>;
using X509Ptr = std::unique_ptr<X509, OpenSslRelease<X509, X509_free>>;
using BioPtr = std::unique_ptr<BIO, OpenSslRelease<BIO, BIO_free_all>>;
using ParamBuildPtr = std::unique_ptr<OSSL_PARAM_BLD, OpenSslRelease<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free>>;
using ParamsPtr = std::unique_ptr<OSSL_PARAM, OpenSslRelease<OSSL_PARAM, OSSL_PARAM_free>>;
using Pkcs8Ptr = std::unique_ptr<PKCS8_PRIV_KEY_INFO, OpenSslRelease<PKCS8_PRIV_KEY_INFO, PKCS8_PRIV_KEY_INFO_free>>;

// Frees memory that OpenSSL allocated (OPENSSL_malloc).
struct OpenSslFree {
    void operator()(void* memory) const { OPENSSL_free(memory); }
};
template <typename T>
using OpenSslMemory = std::unique_ptr<T, OpenSslFree>;

}  // namespace zelmor::sim
