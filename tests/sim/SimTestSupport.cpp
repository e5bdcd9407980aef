#include "SimTestSupport.h"

#include "device/DeviceAdministration.h"

#include <cstdlib>
#include <fstream>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/param_build.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <sstream>

namespace simtest {

void SimTest::SetUp() {
    char pattern[] = "/tmp/zelmor-sim-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    storeFolder_ = std::string(pattern) + "/store";
    ::setenv("ZELMOR_SIM_HOME", storeFolder_.c_str(), 1);
}

void SimTest::TearDown() {
    for (ZelmorInstance instance : instances_) zelmor_releaseInstance(instance);
    const std::string parent = storeFolder_.substr(0, storeFolder_.rfind('/'));
    std::system(("rm -rf '" + parent + "'").c_str());
}

void SimTest::createDevice(const std::string& serial, uint32_t capacity, uint32_t retries, const std::string& pin) {
    zelmor::sim::NewDeviceSettings settings;
    settings.serial = serial;
    settings.pin = pin;
    settings.capacity = capacity;
    settings.retries = retries;
    zelmor::sim::createDevice(zelmor::sim::DeviceStore(storeFolder_), settings);
}

ZelmorInstance SimTest::openInstance() {
    ZelmorInstance instance = nullptr;
    zelmor_createInstance(&instance);
    EXPECT_NE(instance, nullptr);
    instances_.push_back(instance);
    return instance;
}

ZelmorKeyPair SimTest::generate(ZelmorInstance instance, const std::string& serial, uint32_t kind,
                                const std::string& label, uint32_t usage) {
    ZelmorKeyPair keyPair{};
    keyPair.keyKind = kind;
    keyPair.usageFlags = usage;
    label.copy(keyPair.label, zelmorLabelSize);
    EXPECT_EQ(zelmor_generateKeyPair(serial.c_str(), defaultPin, &keyPair, instance), 0);
    return keyPair;
}

int32_t generateResult(ZelmorInstance instance, const std::string& serial, const char* pin) {
    ZelmorKeyPair request{};
    request.keyKind = keyKindEcP256;
    return zelmor_generateKeyPair(serial.c_str(), pin, &request, instance);
}

int32_t signWith(ZelmorInstance instance, const std::string& serial, const uint8_t* identifier, const Bytes& input,
                 Bytes* signature, const char* pin) {
    Bytes output(1024);
    uint32_t length = static_cast<uint32_t>(output.size());
    const int32_t rc = zelmor_signHash(serial.c_str(), identifier, pin, input.data(),
                                       static_cast<uint32_t>(input.size()), output.data(), &length, false, instance);
    if (signature != nullptr) signature->assign(output.begin(), output.begin() + (rc == 0 ? length : 0));
    return rc;
}

Pkey publicKeyOf(const ZelmorKeyPair& keyPair) {
    OSSL_PARAM_BLD* build = OSSL_PARAM_BLD_new();
    const bool isEc = keyPair.keyKind >= 5;
    BIGNUM* n = nullptr;
    BIGNUM* e = nullptr;
    if (isEc) {
        const char* curve = keyPair.keyKind == 5 ? "P-256" : keyPair.keyKind == 6 ? "P-384" : "P-521";
        OSSL_PARAM_BLD_push_utf8_string(build, OSSL_PKEY_PARAM_GROUP_NAME, curve, 0);
        OSSL_PARAM_BLD_push_octet_string(build, OSSL_PKEY_PARAM_PUB_KEY, keyPair.publicValue,
                                         static_cast<size_t>(keyPair.publicValueLength));
    } else {
        n = BN_bin2bn(keyPair.publicValue, keyPair.publicValueLength, nullptr);
        e = BN_new();
        BN_set_word(e, 65537);
        OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_RSA_N, n);
        OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_RSA_E, e);
    }
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(build);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, isEc ? "EC" : "RSA", nullptr);
    EVP_PKEY* key = nullptr;
    EVP_PKEY_fromdata_init(ctx);
    EVP_PKEY_fromdata(ctx, &key, EVP_PKEY_PUBLIC_KEY, params);
    EVP_PKEY_CTX_free(ctx);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(build);
    BN_free(n);
    BN_free(e);
    return Pkey(key);
}

bool libcryptoVerifies(EVP_PKEY* key, int hashBits, const Bytes& message, const Bytes& signature) {
    Bytes der = signature;
    if (EVP_PKEY_is_a(key, "EC")) {  // r||s, each half the field size, into DER for libcrypto
        const int half = static_cast<int>(signature.size() / 2);
        if (half == 0 || signature.size() != (EVP_PKEY_get_bits(key) + 7u) / 8 * 2) return false;
        ECDSA_SIG* sig = ECDSA_SIG_new();
        ECDSA_SIG_set0(sig, BN_bin2bn(signature.data(), half, nullptr),
                       BN_bin2bn(signature.data() + half, half, nullptr));
        der = derOf(static_cast<const ECDSA_SIG*>(sig), i2d_ECDSA_SIG);
        ECDSA_SIG_free(sig);
    }
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    const bool ok = EVP_DigestVerifyInit(ctx, nullptr, digestOfBits(hashBits), nullptr, key) == 1 &&
                    EVP_DigestVerify(ctx, der.data(), der.size(), message.data(), message.size()) == 1;
    EVP_MD_CTX_free(ctx);
    return ok;
}

const EVP_MD* digestOfBits(int bits) {
    return bits == 1 ? EVP_sha1() : bits == 256 ? EVP_sha256() : bits == 384 ? EVP_sha384() : EVP_sha512();
}

Bytes sha(int bits, const Bytes& data) {
    Bytes digest(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), digest.data(), &length, digestOfBits(bits), nullptr);
    digest.resize(length);
    return digest;
}

Bytes randomData(std::size_t size) {
    Bytes data(size);
    RAND_bytes(data.data(), static_cast<int>(size));
    return data;
}

Pkey makeEcKey() { return Pkey(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256")); }

Certificate makeCertificate(const std::string& commonName, const std::string& organisation, EVP_PKEY* subjectKey,
                            const X509* issuer, EVP_PKEY* issuerKey, long serial) {
    Certificate certificate(X509_new());
    X509_set_version(certificate.get(), X509_VERSION_3);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 86400L * 365);
    X509_NAME* name = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(organisation.c_str()),
                               -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(commonName.c_str()),
                               -1, -1, 0);
    X509_set_issuer_name(certificate.get(), issuer != nullptr ? X509_get_subject_name(issuer) : name);
    X509_set_pubkey(certificate.get(), subjectKey);
    X509_sign(certificate.get(), issuerKey != nullptr ? issuerKey : subjectKey, EVP_sha256());
    return certificate;
}

std::string pemOf(const X509* certificate) {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, certificate);
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    std::string text(data, static_cast<std::size_t>(length));
    BIO_free(bio);
    return text;
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

void writeFile(const std::string& path, const Bytes& content) {
    writeFile(path, std::string(content.begin(), content.end()));
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace simtest
