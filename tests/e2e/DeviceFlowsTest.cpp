// The flows a user goes through, on the virtual device library: every key
// kind generated, every signing mechanism (each signature also checked with
// libcrypto from the public key's attributes), encryption, digests, a
// certificate chain taken from the CA folder, key import, relabelling and
// deletion, PIN lock and unlock, unplugging, and two processes on one device.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <thread>

#include "E2eSupport.h"
#include "device/DeviceAdministration.h"
#include "store/DeviceStore.h"

namespace e2e {
namespace {

using Bytes = std::vector<uint8_t>;
using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
const char pin[] = "31415926";
const CK_MECHANISM_TYPE rsaMechanisms[] = {CKM_RSA_PKCS, CKM_SHA1_RSA_PKCS, CKM_SHA256_RSA_PKCS, CKM_SHA384_RSA_PKCS,
                                           CKM_SHA512_RSA_PKCS};
const CK_MECHANISM_TYPE ecMechanisms[] = {CKM_ECDSA, CKM_ECDSA_SHA1, CKM_ECDSA_SHA256, CKM_ECDSA_SHA384};

struct Curve {
    const char* group;
    Bytes oid;
    std::size_t pointSize;  // uncompressed point: 0x04, X, Y
};
const Curve curves[] = {{"P-256", {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07}, 65},
                        {"P-384", {0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x22}, 97},
                        {"P-521", {0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x23}, 133}};

const EVP_MD* digestOf(CK_MECHANISM_TYPE mechanism) {
    switch (mechanism) {
        case CKM_SHA_1: case CKM_SHA1_RSA_PKCS: case CKM_ECDSA_SHA1: return EVP_sha1();
        case CKM_SHA256: case CKM_SHA256_RSA_PKCS: case CKM_ECDSA_SHA256: return EVP_sha256();
        case CKM_SHA384: case CKM_SHA384_RSA_PKCS: case CKM_ECDSA_SHA384: return EVP_sha384();
        case CKM_SHA512: case CKM_SHA512_RSA_PKCS: return EVP_sha512();
        default: return nullptr;  // raw input
    }
}

Bytes attribute(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) {
    CK_ATTRIBUTE query{type, nullptr, 0};
    if (p11()->C_GetAttributeValue(session, object, &query, 1) != CKR_OK) return {};
    Bytes value(query.ulValueLen);
    query.pValue = value.data();
    if (p11()->C_GetAttributeValue(session, object, &query, 1) != CKR_OK) return {};
    value.resize(query.ulValueLen);
    return value;
}

// The public key as libcrypto sees it, from the object's attributes alone.
Key publicKeyOf(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object) {
    Bytes keyType = attribute(session, object, CKA_KEY_TYPE);
    CK_KEY_TYPE type = CKK_RSA;
    if (keyType.size() == sizeof type) std::memcpy(&type, keyType.data(), sizeof type);
    OSSL_PARAM_BLD* builder = OSSL_PARAM_BLD_new();
    BIGNUM* modulus = nullptr;
    BIGNUM* exponent = nullptr;
    Bytes point;
    if (type == CKK_RSA) {
        Bytes n = attribute(session, object, CKA_MODULUS);
        modulus = BN_bin2bn(n.data(), static_cast<int>(n.size()), nullptr);
        exponent = BN_new();
        BN_set_word(exponent, 65537);
        OSSL_PARAM_BLD_push_BN(builder, OSSL_PKEY_PARAM_RSA_N, modulus);
        OSSL_PARAM_BLD_push_BN(builder, OSSL_PKEY_PARAM_RSA_E, exponent);
    } else {
        const Bytes oid = attribute(session, object, CKA_EC_PARAMS);
        const char* group = "";
        std::size_t pointSize = 0;
        for (const Curve& curve : curves)
            if (curve.oid == oid) group = curve.group, pointSize = curve.pointSize;
        point = attribute(session, object, CKA_VALUE);
        // Taken as the bare point, or as a DER OCTET STRING around it. Decided by
        // size alone: a point's first coordinate byte may look like a DER length.
        if (point.size() > pointSize) point.erase(point.begin(), point.end() - static_cast<std::ptrdiff_t>(pointSize));
        OSSL_PARAM_BLD_push_utf8_string(builder, OSSL_PKEY_PARAM_GROUP_NAME, group, 0);
        OSSL_PARAM_BLD_push_octet_string(builder, OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size());
    }
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(builder);
    EVP_PKEY_CTX* context = EVP_PKEY_CTX_new_from_name(nullptr, type == CKK_RSA ? "RSA" : "EC", nullptr);
    EVP_PKEY* key = nullptr;
    if (EVP_PKEY_fromdata_init(context) <= 0 || EVP_PKEY_fromdata(context, &key, EVP_PKEY_PUBLIC_KEY, params) <= 0)
        key = nullptr;
    EVP_PKEY_CTX_free(context);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(builder);
    BN_free(modulus);
    BN_free(exponent);
    return Key(key, EVP_PKEY_free);
}

// ECDSA signatures come as r||s; libcrypto wants the DER sequence.
Bytes derEcdsa(const Bytes& signature) {
    const std::size_t half = signature.size() / 2;
    ECDSA_SIG* sig = ECDSA_SIG_new();
    ECDSA_SIG_set0(sig, BN_bin2bn(signature.data(), static_cast<int>(half), nullptr),
                   BN_bin2bn(signature.data() + half, static_cast<int>(half), nullptr));
    unsigned char* der = nullptr;
    int length = i2d_ECDSA_SIG(sig, &der);
    Bytes out(der, der + std::max(length, 0));
    OPENSSL_free(der);
    ECDSA_SIG_free(sig);
    return out;
}

bool libcryptoVerifies(EVP_PKEY* key, CK_MECHANISM_TYPE mechanism, const Bytes& data, Bytes signature) {
    if (key == nullptr) return false;
    if (EVP_PKEY_get_base_id(key) == EVP_PKEY_EC) signature = derEcdsa(signature);
    const EVP_MD* md = digestOf(mechanism);
    bool good = false;
    if (md != nullptr) {
        EVP_MD_CTX* context = EVP_MD_CTX_new();
        good = EVP_DigestVerifyInit(context, nullptr, md, nullptr, key) == 1 &&
               EVP_DigestVerify(context, signature.data(), signature.size(), data.data(), data.size()) == 1;
        EVP_MD_CTX_free(context);
    } else {
        EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(key, nullptr);
        good = EVP_PKEY_verify_init(context) == 1 &&
               EVP_PKEY_verify(context, signature.data(), signature.size(), data.data(), data.size()) == 1;
        EVP_PKEY_CTX_free(context);
    }
    return good;
}

Bytes sign(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key, CK_MECHANISM_TYPE type, Bytes data) {
    CK_MECHANISM mechanism{type, nullptr, 0};
    Bytes signature(1024);
    CK_ULONG length = signature.size();
    EXPECT_EQ(p11()->C_SignInit(session, &mechanism, key), CKR_OK);
    EXPECT_EQ(p11()->C_Sign(session, data.data(), data.size(), signature.data(), &length), CKR_OK) << type;
    signature.resize(std::min<std::size_t>(length, signature.size()));
    return signature;
}

CK_RV verify(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key, CK_MECHANISM_TYPE type, Bytes data, Bytes signature) {
    CK_MECHANISM mechanism{type, nullptr, 0};
    CK_RV rv = p11()->C_VerifyInit(session, &mechanism, key);
    if (rv != CKR_OK) return rv;
    return p11()->C_Verify(session, data.data(), data.size(), signature.data(), signature.size());
}

CK_RV generate(CK_SESSION_HANDLE session, CK_ULONG bits, const Bytes* curve, const std::string& label,
               CK_OBJECT_HANDLE* publicKey, CK_OBJECT_HANDLE* privateKey) {
    CK_BBOOL yes = CK_TRUE;
    Bytes oid = curve ? *curve : Bytes();
    std::string text = label;
    CK_ATTRIBUTE publicTemplate[] = {{CKA_VERIFY, &yes, sizeof yes},
                                     {CKA_LABEL, &text[0], text.size()},
                                     curve ? CK_ATTRIBUTE{CKA_EC_PARAMS, oid.data(), oid.size()}
                                           : CK_ATTRIBUTE{CKA_MODULUS_BITS, &bits, sizeof bits}};
    // The key type in the private template decides the kind; the mechanism does not.
    CK_KEY_TYPE keyType = curve ? CKK_EC : CKK_RSA;
    CK_ATTRIBUTE privateTemplate[] = {{CKA_KEY_TYPE, &keyType, sizeof keyType}, {CKA_SIGN, &yes, sizeof yes},
                                      {CKA_DECRYPT, &yes, sizeof yes}, {CKA_TOKEN, &yes, sizeof yes},
                                      {CKA_LABEL, &text[0], text.size()}};
    CK_MECHANISM mechanism{curve ? CKM_EC_KEY_PAIR_GEN : CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
    return p11()->C_GenerateKeyPair(session, &mechanism, publicTemplate, 3, privateTemplate, 5, publicKey, privateKey);
}

CK_OBJECT_HANDLE findByLabel(CK_SESSION_HANDLE session, CK_OBJECT_CLASS objectClass, const std::string& label) {
    for (CK_OBJECT_HANDLE object : findObjects(session, objectClass))
        if (labelOf(session, object) == label) return object;
    return CK_INVALID_HANDLE;
}

std::string simTool() {
    std::string module = ZELMOR_MODULE_PATH;
    return module.substr(0, module.rfind('/')) + "/zelmor-sim";
}

int runSimTool(const std::string& arguments) { return std::system((simTool() + " " + arguments + " >/dev/null").c_str()); }

class DeviceFlowsTest : public ::testing::Test {
public:
    void SetUp() override {
        // The second process of TwoProcessesShareOneDevice works on its parent's store.
        if (const char* store = std::getenv("ZELMOR_FLOW_STORE")) {
            runFolder();
            setenv("ZELMOR_SIM_HOME", store, 1);
        }
        ensureInitialised();
    }
    void TearDown() override {
        for (CK_SESSION_HANDLE session : sessions) p11()->C_CloseSession(session);
    }
    CK_SESSION_HANDLE loggedIn(const std::string& serial) {
        CK_SESSION_HANDLE session = openSession(serial);
        sessions.push_back(session);
        EXPECT_EQ(login(session, pin), CKR_OK);
        return session;
    }
    std::vector<CK_SESSION_HANDLE> sessions;
};

TEST_F(DeviceFlowsTest, EveryKeyKindSignsWithEveryMechanismAndLibcryptoAgrees) {
    createDevice("FLOWSIGN01", pin);
    CK_SESSION_HANDLE session = loggedIn("FLOWSIGN01");
    struct Kind {
        CK_ULONG bits;
        const Curve* curve;
        std::size_t signatureSize;
    };
    const Kind kinds[] = {{1024, nullptr, 128}, {2048, nullptr, 256}, {0, &curves[0], 64}, {0, &curves[1], 96},
                          {0, &curves[2], 132}};
    // 35 bytes: an RSA input of a hash's length would be taken as a bare hash.
    const Bytes data(35, 0x5A);
    for (const Kind& kind : kinds) {
        const std::string name = kind.curve ? kind.curve->group : "RSA " + std::to_string(kind.bits);
        SCOPED_TRACE(name);
        CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
        ASSERT_EQ(generate(session, kind.bits, kind.curve ? &kind.curve->oid : nullptr, name, &publicKey, &privateKey),
                  CKR_OK);
        Key key = publicKeyOf(session, publicKey);
        ASSERT_NE(key, nullptr);
        EXPECT_EQ(EVP_PKEY_get_base_id(key.get()), kind.curve ? EVP_PKEY_EC : EVP_PKEY_RSA);
        if (!kind.curve) {
            EXPECT_EQ(EVP_PKEY_get_bits(key.get()), static_cast<int>(kind.bits));
        }
        std::vector<CK_MECHANISM_TYPE> mechanisms(std::begin(rsaMechanisms), std::end(rsaMechanisms));
        if (kind.curve) mechanisms.assign(std::begin(ecMechanisms), std::end(ecMechanisms));
        for (CK_MECHANISM_TYPE mechanism : mechanisms) {
            SCOPED_TRACE("mechanism " + std::to_string(mechanism));
            Bytes signature = sign(session, privateKey, mechanism, data);
            EXPECT_EQ(signature.size(), kind.signatureSize);
            EXPECT_TRUE(libcryptoVerifies(key.get(), mechanism, data, signature));
            EXPECT_EQ(verify(session, publicKey, mechanism, data, signature), CKR_OK);
            signature[signature.size() / 3] ^= 0x01;
            EXPECT_EQ(verify(session, publicKey, mechanism, data, signature), CKR_SIGNATURE_INVALID);
        }
    }
}

TEST_F(DeviceFlowsTest, RsaEncryptionRoundTripsAndMatchesLibcrypto) {
    createDevice("FLOWCRYPT1", pin);
    CK_SESSION_HANDLE session = loggedIn("FLOWCRYPT1");
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    ASSERT_EQ(generate(session, 1024, nullptr, "crypt", &publicKey, &privateKey), CKR_OK);
    CK_MECHANISM mechanism{CKM_RSA_PKCS, nullptr, 0};
    Bytes plain{'s', 'e', 'c', 'r', 'e', 't', 0, 1, 2}, cipher(128), back(128);
    CK_ULONG length = cipher.size();
    ASSERT_EQ(p11()->C_EncryptInit(session, &mechanism, publicKey), CKR_OK);
    ASSERT_EQ(p11()->C_Encrypt(session, plain.data(), plain.size(), cipher.data(), &length), CKR_OK);
    ASSERT_EQ(length, 128u);
    CK_ULONG backLength = back.size();
    ASSERT_EQ(p11()->C_DecryptInit(session, &mechanism, privateKey), CKR_OK);
    ASSERT_EQ(p11()->C_Decrypt(session, cipher.data(), length, back.data(), &backLength), CKR_OK);
    EXPECT_EQ(Bytes(back.begin(), back.begin() + backLength), plain);

    // Encrypted by libcrypto with the key from CKA_MODULUS, decrypted by the device.
    Key key = publicKeyOf(session, publicKey);
    EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(key.get(), nullptr);
    std::size_t outside = cipher.size();
    ASSERT_EQ(EVP_PKEY_encrypt_init(context), 1);
    EVP_PKEY_CTX_set_rsa_padding(context, RSA_PKCS1_PADDING);
    ASSERT_EQ(EVP_PKEY_encrypt(context, cipher.data(), &outside, plain.data(), plain.size()), 1);
    EVP_PKEY_CTX_free(context);
    backLength = back.size();
    ASSERT_EQ(p11()->C_DecryptInit(session, &mechanism, privateKey), CKR_OK);
    ASSERT_EQ(p11()->C_Decrypt(session, cipher.data(), outside, back.data(), &backLength), CKR_OK);
    EXPECT_EQ(Bytes(back.begin(), back.begin() + backLength), plain);
}

TEST_F(DeviceFlowsTest, DigestsEqualLibcrypto) {
    createDevice("FLOWHASH01", pin);
    CK_SESSION_HANDLE session = loggedIn("FLOWHASH01");
    Bytes data(3000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
    for (CK_MECHANISM_TYPE type : {CKM_SHA_1, CKM_SHA256, CKM_SHA384, CKM_SHA512}) {
        SCOPED_TRACE(type);
        unsigned char expected[EVP_MAX_MD_SIZE];
        unsigned int expectedLength = 0;
        EVP_Digest(data.data(), data.size(), expected, &expectedLength, digestOf(type), nullptr);
        CK_MECHANISM mechanism{type, nullptr, 0};
        Bytes whole(64), parts(64);
        CK_ULONG wholeLength = whole.size(), partsLength = parts.size();
        ASSERT_EQ(p11()->C_DigestInit(session, &mechanism), CKR_OK);
        ASSERT_EQ(p11()->C_Digest(session, data.data(), data.size(), whole.data(), &wholeLength), CKR_OK);
        ASSERT_EQ(p11()->C_DigestInit(session, &mechanism), CKR_OK);
        ASSERT_EQ(p11()->C_DigestUpdate(session, data.data(), 1000), CKR_OK);
        ASSERT_EQ(p11()->C_DigestUpdate(session, data.data() + 1000, 2000), CKR_OK);
        ASSERT_EQ(p11()->C_DigestFinal(session, parts.data(), &partsLength), CKR_OK);
        EXPECT_EQ(Bytes(whole.begin(), whole.begin() + wholeLength), Bytes(expected, expected + expectedLength));
        EXPECT_EQ(Bytes(parts.begin(), parts.begin() + partsLength), Bytes(expected, expected + expectedLength));
    }
}

X509* makeCertificate(const std::string& name, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey, bool ca, long serial) {
    X509* certificate = X509_new();
    X509_set_version(certificate, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), serial);
    X509_gmtime_adj(X509_getm_notBefore(certificate), 0);
    X509_gmtime_adj(X509_getm_notAfter(certificate), 3600L * 24 * 365);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(certificate), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(name.c_str()), -1, -1, 0);
    X509_set_issuer_name(certificate, X509_get_subject_name(issuer ? issuer : certificate));
    X509_set_pubkey(certificate, key);
    X509_EXTENSION* constraints =
        X509V3_EXT_conf_nid(nullptr, nullptr, NID_basic_constraints, ca ? "critical,CA:TRUE" : "CA:FALSE");
    X509_add_ext(certificate, constraints, -1);
    X509_EXTENSION_free(constraints);
    X509_sign(certificate, issuerKey, EVP_sha256());
    return certificate;
}

Bytes derOf(X509* certificate) {
    unsigned char* der = nullptr;
    int length = i2d_X509(certificate, &der);
    Bytes out(der, der + std::max(length, 0));
    OPENSSL_free(der);
    return out;
}

TEST_F(DeviceFlowsTest, CertificateImportBringsTheChainFromTheCaFolder) {
    const std::string home = runFolder() + "/home";
    const std::string folder = home + "/ZelmorDSC/Certificates";
    ::mkdir(home.c_str(), 0700);
    ::mkdir((home + "/ZelmorDSC").c_str(), 0700);
    ::mkdir(folder.c_str(), 0700);
    Key rootKey(EVP_EC_gen("P-256"), EVP_PKEY_free), middleKey(EVP_EC_gen("P-256"), EVP_PKEY_free),
        leafKey(EVP_EC_gen("P-256"), EVP_PKEY_free);
    X509* root = makeCertificate("Flow Root CA", rootKey.get(), nullptr, rootKey.get(), true, 1);
    X509* middle = makeCertificate("Flow Issuing CA", middleKey.get(), root, rootKey.get(), true, 2);
    X509* leaf = makeCertificate("Flow Signer", leafKey.get(), middle, middleKey.get(), false, 3);
    FILE* pem = std::fopen((folder + "/root.pem").c_str(), "w");
    ASSERT_NE(pem, nullptr);
    PEM_write_X509(pem, root);
    std::fclose(pem);
    const Bytes middleDer = derOf(middle), rootDer = derOf(root), leafDer = derOf(leaf);
    std::ofstream(folder + "/issuing.cer", std::ios::binary)
        .write(reinterpret_cast<const char*>(middleDer.data()), static_cast<std::streamsize>(middleDer.size()));
    X509_free(root);
    X509_free(middle);
    X509_free(leaf);

    createDevice("FLOWCHAIN1", pin);
    CK_SESSION_HANDLE session = loggedIn("FLOWCHAIN1");
    setenv("ZELMOR_HOME", home.c_str(), 1);
    CK_OBJECT_HANDLE handle = CK_INVALID_HANDLE;
    CK_RV rv = importCertificate(session, leafDer, "signer", &handle);
    unsetenv("ZELMOR_HOME");
    ASSERT_EQ(rv, CKR_OK);
    EXPECT_EQ(attribute(session, handle, CKA_VALUE), leafDer);
    std::vector<Bytes> onToken;
    for (CK_OBJECT_HANDLE object : findObjects(session, CKO_CERTIFICATE))
        onToken.push_back(attribute(session, object, CKA_VALUE));
    for (const Bytes* expected : {&rootDer, &middleDer, &leafDer})
        EXPECT_NE(std::find(onToken.begin(), onToken.end(), *expected), onToken.end());
    EXPECT_EQ(onToken.size(), 3u);
}

TEST_F(DeviceFlowsTest, ImportedRsaKeySignsAndLibcryptoVerifies) {
    createDevice("FLOWIMPRT1", pin);
    CK_SESSION_HANDLE session = loggedIn("FLOWIMPRT1");
    Key generated(EVP_RSA_gen(2048), EVP_PKEY_free);
    auto component = [&](const char* name) {
        BIGNUM* number = nullptr;
        EVP_PKEY_get_bn_param(generated.get(), name, &number);
        Bytes bytes(static_cast<std::size_t>(BN_num_bytes(number)));
        BN_bn2bin(number, bytes.data());
        BN_clear_free(number);
        return bytes;
    };
    Bytes modulus = component(OSSL_PKEY_PARAM_RSA_N), exponent = component(OSSL_PKEY_PARAM_RSA_D),
          prime = component(OSSL_PKEY_PARAM_RSA_FACTOR1);
    CK_OBJECT_CLASS privateClass = CKO_PRIVATE_KEY;
    CK_KEY_TYPE rsa = CKK_RSA;
    CK_BBOOL yes = CK_TRUE;
    char label[] = "imported";
    CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &privateClass, sizeof privateClass}, {CKA_KEY_TYPE, &rsa, sizeof rsa},
                                 {CKA_TOKEN, &yes, sizeof yes},           {CKA_LABEL, label, sizeof label - 1},
                                 {CKA_MODULUS, modulus.data(), modulus.size()},
                                 {CKA_PRIVATE_EXPONENT, exponent.data(), exponent.size()},
                                 {CKA_PRIME_1, prime.data(), prime.size()}};
    CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
    ASSERT_EQ(p11()->C_CreateObject(session, attributes, 7, &key), CKR_OK);
    ASSERT_NE(findByLabel(session, CKO_PRIVATE_KEY, "imported"), CK_INVALID_HANDLE);
    const Bytes data{'i', 'm', 'p', 'o', 'r', 't'};
    Bytes signature = sign(session, findByLabel(session, CKO_PRIVATE_KEY, "imported"), CKM_SHA256_RSA_PKCS, data);
    EXPECT_TRUE(libcryptoVerifies(generated.get(), CKM_SHA256_RSA_PKCS, data, signature));
}

TEST_F(DeviceFlowsTest, RelabelledKeyKeepsItsNewLabelAndDeletedObjectsAreGone) {
    createDevice("FLOWLABEL1", pin);
    CK_SESSION_HANDLE session = loggedIn("FLOWLABEL1");
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0, certificate = 0;
    ASSERT_EQ(generate(session, 0, &curves[0].oid, "before", &publicKey, &privateKey), CKR_OK);
    ASSERT_EQ(importCertificate(session, selfSignedCertificate("Flow Label"), "cert", &certificate), CKR_OK);
    char label[] = "after";
    CK_ATTRIBUTE attribute{CKA_LABEL, label, sizeof label - 1};
    ASSERT_EQ(p11()->C_SetAttributeValue(session, privateKey, &attribute, 1), CKR_OK);
    CK_SESSION_HANDLE second = openSession("FLOWLABEL1");
    sessions.push_back(second);
    EXPECT_NE(findByLabel(second, CKO_PRIVATE_KEY, "after"), CK_INVALID_HANDLE);
    EXPECT_EQ(findByLabel(second, CKO_PRIVATE_KEY, "before"), CK_INVALID_HANDLE);

    ASSERT_EQ(p11()->C_DestroyObject(session, privateKey), CKR_OK);
    ASSERT_EQ(p11()->C_DestroyObject(session, certificate), CKR_OK);
    EXPECT_TRUE(findObjects(second, CKO_PRIVATE_KEY).empty());
    EXPECT_TRUE(findObjects(second, CKO_CERTIFICATE).empty());
    EXPECT_NE(signOnce(session, privateKey, CKM_ECDSA_SHA256), CKR_OK);
}

TEST_F(DeviceFlowsTest, WrongPinLocksTheDeviceUntilTheToolUnlocksIt) {
    zelmor::sim::NewDeviceSettings settings;
    settings.serial = "FLOWLOCK01";
    settings.pin = pin;
    settings.retries = 3;
    zelmor::sim::createDevice(zelmor::sim::DeviceStore(storeFolder()), settings);
    CK_SESSION_HANDLE session = openSession("FLOWLOCK01");
    sessions.push_back(session);
    std::vector<CK_RV> results;
    for (int attempt = 0; attempt < 4; ++attempt) results.push_back(login(session, "00000000"));
    EXPECT_EQ(results[0], CKR_PIN_INCORRECT);
    EXPECT_EQ(results[1], CKR_PIN_INCORRECT);
    EXPECT_EQ(results[3], CKR_PIN_LOCKED);
    EXPECT_EQ(login(session, pin), CKR_PIN_LOCKED);
    ASSERT_EQ(runSimTool("unlock FLOWLOCK01"), 0) << simTool();
    EXPECT_EQ(login(session, pin), CKR_OK);
}

CK_STATE stateOf(CK_SESSION_HANDLE session) {
    CK_SESSION_INFO info{};
    return p11()->C_GetSessionInfo(session, &info) == CKR_OK ? info.state : ~CK_STATE(0);
}

TEST_F(DeviceFlowsTest, UnpluggingDemotesLoggedInSessions) {
    createDevice("FLOWPLUG01", pin);
    CK_SESSION_HANDLE first = loggedIn("FLOWPLUG01");
    CK_SESSION_HANDLE second = openSession("FLOWPLUG01");
    sessions.push_back(second);
    ASSERT_EQ(stateOf(second), CKS_RW_USER_FUNCTIONS);
    ASSERT_EQ(runSimTool("unplug FLOWPLUG01"), 0) << simTool();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline &&
           (stateOf(first) == CKS_RW_USER_FUNCTIONS || stateOf(second) == CKS_RW_USER_FUNCTIONS))
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(stateOf(first), CKS_RW_PUBLIC_SESSION);
    EXPECT_EQ(stateOf(second), CKS_RW_PUBLIC_SESSION);
    EXPECT_EQ(runSimTool("plug FLOWPLUG01"), 0);
}

// The other process's side, run by the test below in a child process: finds
// the parent's key, signs with it, writes the signature, and generates a key
// of its own. Skipped when run on its own.
TEST_F(DeviceFlowsTest, SecondProcessSide) {
    const char* store = std::getenv("ZELMOR_FLOW_STORE");
    const char* output = std::getenv("ZELMOR_FLOW_OUTPUT");
    if (store == nullptr || output == nullptr) GTEST_SKIP() << "only run by TwoProcessesShareOneDevice";
    CK_SESSION_HANDLE session = loggedIn("FLOWSHARE1");
    CK_OBJECT_HANDLE key = findByLabel(session, CKO_PRIVATE_KEY, "parent");
    ASSERT_NE(key, CK_INVALID_HANDLE);
    Bytes signature = sign(session, key, CKM_ECDSA_SHA256, Bytes{'s', 'h', 'a', 'r', 'e', 'd'});
    std::ofstream(output, std::ios::binary)
        .write(reinterpret_cast<const char*>(signature.data()), static_cast<std::streamsize>(signature.size()));
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    ASSERT_EQ(generate(session, 0, &curves[0].oid, "child", &publicKey, &privateKey), CKR_OK);
}

TEST_F(DeviceFlowsTest, TwoProcessesShareOneDevice) {
    createDevice("FLOWSHARE1", pin);
    CK_SESSION_HANDLE session = loggedIn("FLOWSHARE1");
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    ASSERT_EQ(generate(session, 0, &curves[1].oid, "parent", &publicKey, &privateKey), CKR_OK);
    const std::string output = runFolder() + "/child-signature";
    pid_t child = fork();
    if (child == 0) {
        // The child's own run folder would point it at a new store: the
        // store is handed over and set again before the module starts.
        setenv("ZELMOR_FLOW_STORE", storeFolder().c_str(), 1);
        setenv("ZELMOR_FLOW_OUTPUT", output.c_str(), 1);
        execl("/proc/self/exe", "e2e_tests", "--gtest_filter=DeviceFlowsTest.SecondProcessSide", nullptr);
        _exit(127);
    }
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const std::string text = readFile(output);
    Key key = publicKeyOf(session, publicKey);
    EXPECT_TRUE(libcryptoVerifies(key.get(), CKM_ECDSA_SHA256, Bytes{'s', 'h', 'a', 'r', 'e', 'd'},
                                  Bytes(text.begin(), text.end())));
    EXPECT_NE(findByLabel(session, CKO_PRIVATE_KEY, "child"), CK_INVALID_HANDLE);
}

}  // namespace
}  // namespace e2e
