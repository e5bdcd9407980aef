#include "CertificateMaker.h"

#include "Pkcs11Module.h"

#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdio>
#include <memory>

namespace bench {

namespace {

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertificateFree {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
struct NameFree {
    void operator()(X509_NAME* name) const { X509_NAME_free(name); }
};

template <typename Object, int (*encode)(const Object*, unsigned char**)>
std::vector<unsigned char> toDer(const Object* object)
{
    int length = encode(object, nullptr);
    if (length <= 0) throw BenchError("DER encoding failed");
    std::vector<unsigned char> der(static_cast<size_t>(length));
    unsigned char* cursor = der.data();
    encode(object, &cursor);
    return der;
}

int encodeCertificate(const X509* certificate, unsigned char** out) { return i2d_X509(certificate, out); }
int encodeName(const X509_NAME* name, unsigned char** out) { return i2d_X509_NAME(name, out); }

} // namespace

std::vector<MadeCertificate> makeCertificates(unsigned count, const std::string& prefix)
{
    std::unique_ptr<EVP_PKEY, KeyFree> key(EVP_EC_gen("P-256"));
    if (!key) throw BenchError("P-256 key generation for the certificates failed");

    std::vector<MadeCertificate> made;
    for (unsigned index = 1; index <= count; ++index) {
        std::unique_ptr<X509, CertificateFree> certificate(X509_new());
        std::unique_ptr<X509_NAME, NameFree> name(X509_NAME_new());
        if (!certificate || !name) throw BenchError("out of memory making certificates");
        char commonName[96];
        std::snprintf(commonName, sizeof commonName, "%s %03u", prefix.c_str(), index);
        X509_NAME_add_entry_by_txt(name.get(), "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
        X509_NAME_add_entry_by_txt(name.get(), "O", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("Zelmor Bench"), -1, -1, 0);
        bool ok = X509_set_version(certificate.get(), 2) == 1 &&
                  ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), static_cast<long>(index)) == 1 &&
                  X509_set_subject_name(certificate.get(), name.get()) == 1 &&
                  X509_set_issuer_name(certificate.get(), name.get()) == 1 &&
                  X509_gmtime_adj(X509_getm_notBefore(certificate.get()), 0) != nullptr &&
                  X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 365L * 24 * 3600) != nullptr &&
                  X509_set_pubkey(certificate.get(), key.get()) == 1 &&
                  X509_sign(certificate.get(), key.get(), EVP_sha256()) > 0;
        if (!ok) throw BenchError("making certificate " + std::to_string(index) + " failed");
        MadeCertificate entry;
        entry.der = toDer<X509, encodeCertificate>(certificate.get());
        entry.subjectDer = toDer<X509_NAME, encodeName>(name.get());
        made.push_back(std::move(entry));
    }
    return made;
}

} // namespace bench
