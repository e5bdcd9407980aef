// Shared helpers of the virtual device library tests: a private store per
// test, device creation, device calls, and independent libcrypto checks.
#pragma once

#include "ZelmorDSCLibrary.h"

#include <gtest/gtest.h>
#include <memory>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <string>
#include <vector>

namespace simtest {

using Bytes = std::vector<uint8_t>;

constexpr const char* defaultPin = "123456";

struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct X509Free {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using Certificate = std::unique_ptr<X509, X509Free>;

// Every test gets its own store folder in $ZELMOR_SIM_HOME, removed afterwards.
class SimTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A plugged device made through the administration code.
    void createDevice(const std::string& serial, uint32_t capacity = 32, uint32_t retries = 10,
                      const std::string& pin = defaultPin);
    // Opens a library instance; released in TearDown.
    ZelmorInstance openInstance();
    std::string storeFolder() const { return storeFolder_; }

    // Generates a key pair on the device; fails the test on a non-zero result.
    ZelmorKeyPair generate(ZelmorInstance instance, const std::string& serial, uint32_t kind,
                           const std::string& label = "key", uint32_t usage = keyUsageSign | keyUsageDecrypt);

private:
    std::string storeFolder_;
    std::vector<ZelmorInstance> instances_;
};

// The result of generating a P-256 key pair, for tests of refusals.
int32_t generateResult(ZelmorInstance instance, const std::string& serial, const char* pin = defaultPin);
// Signs `input` with a device key into a 1024-byte buffer; the signature goes to *signature on success.
int32_t signWith(ZelmorInstance instance, const std::string& serial, const uint8_t* identifier, const Bytes& input,
                 Bytes* signature = nullptr, const char* pin = defaultPin);

// Public key rebuilt from a record's kind and public value with libcrypto alone.
Pkey publicKeyOf(const ZelmorKeyPair& keyPair);
// Whether libcrypto, hashing `message` itself, accepts a device signature
// (RSA PKCS#1 v1.5, or ECDSA as r||s).
bool libcryptoVerifies(EVP_PKEY* key, int hashBits, const Bytes& message, const Bytes& signature);

const EVP_MD* digestOfBits(int bits);  // bits 1 (SHA-1), 256, 384, 512
Bytes sha(int bits, const Bytes& data);
Bytes randomData(std::size_t size);

// DER of a libcrypto object through its i2d function (i2d_X509, i2d_PUBKEY, ...).
template <typename T>
Bytes derOf(const T* object, int (*encode)(const T*, unsigned char**)) {
    unsigned char* der = nullptr;
    const int length = encode(object, &der);
    Bytes bytes(der, der + (length > 0 ? length : 0));
    OPENSSL_free(der);
    return bytes;
}
inline Bytes derOf(const X509* certificate) { return derOf(certificate, i2d_X509); }

// A certificate signed by issuerKey (or self-signed when issuer is null).
Certificate makeCertificate(const std::string& commonName, const std::string& organisation, EVP_PKEY* subjectKey,
                            const X509* issuer, EVP_PKEY* issuerKey, long serial);
Pkey makeEcKey();
std::string pemOf(const X509* certificate);

void writeFile(const std::string& path, const std::string& content);
void writeFile(const std::string& path, const Bytes& content);
std::string readFile(const std::string& path);

}  // namespace simtest
