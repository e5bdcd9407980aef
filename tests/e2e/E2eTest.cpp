// End-to-end tests: the built module loaded by path, running on the virtual
// device library's code. The program carries the library's functions itself
// and exports them, so the module binds to this copy. Every run gets a
// private folder: the store ($ZELMOR_SIM_HOME) with one device, the temporary
// folder the module logs under, and the log-level setting (3). Under
// AddressSanitizer, LeakSanitizer checks the module and the library at exit.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <fstream>
#include <tuple>

#include "../sim/LibcryptoChecks.h"
#include "device/DeviceAdministration.h"
#include "pkcs11.h"
#include "store/DeviceStore.h"

namespace e2e {
namespace {

using Bytes = std::vector<uint8_t>;
std::string pin = "7391046285";

struct KeyKind {
    const char* name;  // EC: the libcrypto group name of the curve
    CK_ULONG bits;     // RSA; 0 for EC
    Bytes curve;       // EC: the curve's OID
    std::size_t signatureSize;
};
const KeyKind keyKinds[] = {
    {"RSA 1024", 1024, {}, 128},
    {"RSA 2048", 2048, {}, 256},
    {"RSA 3072", 3072, {}, 384},
    {"RSA 4096", 4096, {}, 512},
    {"P-256", 0, {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07}, 64},
    {"P-384", 0, {0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x22}, 96},
    {"P-521", 0, {0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x23}, 132},
};

// The module, initialised once for the run, on a private folder with one device in its store.
CK_FUNCTION_LIST_PTR p11() {
    static CK_FUNCTION_LIST_PTR functions = [] {
        char pattern[] = "/tmp/zelmor-e2e-XXXXXX";
        const std::string folder = mkdtemp(pattern);
        std::ofstream(folder + "/logLevel") << "3\n";
        setenv("ZELMOR_CONFIG_DIR", folder.c_str(), 1);
        setenv("TMPDIR", folder.c_str(), 1);
        setenv("ZELMOR_SIM_HOME", (folder + "/store").c_str(), 1);
        zelmor::sim::createDevice(zelmor::sim::DeviceStore(folder + "/store"), {"E2E00001", pin});
        void* library = dlopen(ZELMOR_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
        auto getList = library ? reinterpret_cast<CK_C_GetFunctionList>(dlsym(library, "C_GetFunctionList")) : nullptr;
        CK_FUNCTION_LIST_PTR list = nullptr;
        if (getList == nullptr || getList(&list) != CKR_OK || list->C_Initialize(nullptr) != CKR_OK) std::abort();
        return list;
    }();
    return functions;
}

// A read-write session on the device, logged in as the user (after C_Logout:
// the module keeps a device's PIN after its last session closes).
CK_SESSION_HANDLE openSession() {
    CK_SLOT_ID slot = 0;
    CK_ULONG count = 1;
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    EXPECT_EQ(p11()->C_GetSlotList(CK_TRUE, &slot, &count), CKR_OK);
    EXPECT_EQ(p11()->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session), CKR_OK);
    p11()->C_Logout(session);
    EXPECT_EQ(p11()->C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(&pin[0]), pin.size()), CKR_OK);
    return session;
}

Bytes attribute(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) {
    Bytes value(1024);
    CK_ATTRIBUTE query{type, value.data(), value.size()};
    value.resize(p11()->C_GetAttributeValue(session, object, &query, 1) == CKR_OK ? query.ulValueLen : 0);
    return value;
}

CK_RV generate(CK_SESSION_HANDLE session, const KeyKind& kind, std::string label, CK_OBJECT_HANDLE* privateKey,
               CK_OBJECT_HANDLE* publicKey) {
    CK_BBOOL yes = CK_TRUE;
    CK_ULONG bits = kind.bits;
    Bytes oid = kind.curve;
    CK_KEY_TYPE keyType = bits ? CKK_RSA : CKK_EC;  // the private template decides the kind
    CK_ATTRIBUTE publicTemplate = bits ? CK_ATTRIBUTE{CKA_MODULUS_BITS, &bits, sizeof bits}
                                       : CK_ATTRIBUTE{CKA_EC_PARAMS, oid.data(), oid.size()};
    CK_ATTRIBUTE privateTemplate[] = {{CKA_KEY_TYPE, &keyType, sizeof keyType}, {CKA_SIGN, &yes, sizeof yes},
                                      {CKA_DECRYPT, &yes, sizeof yes}, {CKA_LABEL, &label[0], label.size()}};
    CK_MECHANISM mechanism{bits ? CKM_RSA_PKCS_KEY_PAIR_GEN : CKM_EC_KEY_PAIR_GEN, nullptr, 0};
    return p11()->C_GenerateKeyPair(session, &mechanism, &publicTemplate, 1, privateTemplate, 4, publicKey,
                                    privateKey);
}

// C_SignInit and C_Sign: the signature, empty on failure.
Bytes sign(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key, CK_MECHANISM_TYPE type, Bytes data = Bytes(32, 1)) {
    CK_MECHANISM mechanism{type, nullptr, 0};
    Bytes signature(1024);
    CK_ULONG length = signature.size();
    const bool done = p11()->C_SignInit(session, &mechanism, key) == CKR_OK &&
                      p11()->C_Sign(session, data.data(), data.size(), signature.data(), &length) == CKR_OK;
    signature.resize(done ? length : 0);
    return signature;
}

// Every key kind, every signing mechanism: each signature checked by libcrypto
// and by C_Verify (a changed bit fails it). The device hashes, then signs the
// hash, or the raw input, in the format libcrypto expects.
TEST(E2eTest, GeneratedKeysSignAsLibcryptoExpects) {
    // The digest each mechanism applies; none for raw input.
    const std::tuple<CK_KEY_TYPE, CK_MECHANISM_TYPE, const char*> mechanisms[] = {
        {CKK_RSA, CKM_RSA_PKCS, nullptr},          {CKK_RSA, CKM_SHA1_RSA_PKCS, "SHA1"},
        {CKK_RSA, CKM_SHA256_RSA_PKCS, "SHA256"},  {CKK_RSA, CKM_SHA384_RSA_PKCS, "SHA384"},
        {CKK_RSA, CKM_SHA512_RSA_PKCS, "SHA512"},  {CKK_EC, CKM_ECDSA, nullptr},
        {CKK_EC, CKM_ECDSA_SHA1, "SHA1"},          {CKK_EC, CKM_ECDSA_SHA256, "SHA256"},
        {CKK_EC, CKM_ECDSA_SHA384, "SHA384"},
    };
    CK_SESSION_HANDLE session = openSession();
    for (const KeyKind& kind : keyKinds) {
        SCOPED_TRACE(kind.name);
        CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
        ASSERT_EQ(generate(session, kind, kind.name, &privateKey, &publicKey), CKR_OK);
        // EC: the bare point (0x04, X, Y) in CKA_VALUE.
        const libcrypto::Pkey key = libcrypto::publicKey(
            kind.bits ? nullptr : kind.name, attribute(session, publicKey, kind.bits ? CKA_MODULUS : CKA_VALUE));
        ASSERT_NE(key, nullptr);
        // 70 bytes: no hash's length (an RSA input of one is taken as a bare hash), and
        // longer than every curve's order, which ECDSA cuts the input to.
        Bytes data(70, 0x5A);
        for (const auto& [keyType, type, digest] : mechanisms) {
            if (keyType != (kind.bits ? CKK_RSA : CKK_EC)) continue;
            SCOPED_TRACE("mechanism " + std::to_string(type));
            Bytes signature = sign(session, privateKey, type, data);
            ASSERT_EQ(signature.size(), kind.signatureSize);
            EXPECT_TRUE(libcrypto::verifies(key.get(), digest, data, signature));
            CK_MECHANISM mechanism{type, nullptr, 0};
            for (CK_RV expected : {CKR_OK, CKR_SIGNATURE_INVALID}) {
                ASSERT_EQ(p11()->C_VerifyInit(session, &mechanism, publicKey), CKR_OK);
                EXPECT_EQ(p11()->C_Verify(session, &data[0], data.size(), &signature[0], signature.size()), expected);
                signature[signature.size() / 3] ^= 0x01;
            }
        }
    }
}

// Keys outlive C_Finalize and C_Initialize under the same handles; work left
// unfinished in sessions, closed or left for C_Finalize to clear, loses no
// memory (LeakSanitizer at exit).
TEST(E2eTest, KeysOutliveFinaliseAndUnfinishedWorkLeaksNothing) {
    CK_OBJECT_HANDLE privateKey = 0, publicKey = 0;
    ASSERT_EQ(generate(openSession(), keyKinds[0], "kept", &privateKey, &publicKey), CKR_OK);
    CK_BYTE data[64] = {9}, out[256];
    CK_ULONG length = sizeof out, plainLength = 0;
    CK_MECHANISM sha256{CKM_SHA256, nullptr, 0}, signing{CKM_SHA256_RSA_PKCS, nullptr, 0}, rsa{CKM_RSA_PKCS, nullptr, 0};
    for (int cycle = 0; cycle < 3; ++cycle) {
        CK_SESSION_HANDLE s[4];
        for (CK_SESSION_HANDLE& session : s) session = openSession();
        EXPECT_EQ(attribute(s[0], privateKey, CKA_LABEL), Bytes({'k', 'e', 'p', 't'}));
        EXPECT_EQ(sign(s[0], privateKey, CKM_SHA256_RSA_PKCS).size(), 128u);
        // A digest and a signature fed and never finished, in sessions then
        // closed; a verification and a decryption size query left for C_Finalize.
        const std::vector<CK_RV> results{
            p11()->C_DigestInit(s[0], &sha256),           p11()->C_DigestUpdate(s[0], data, sizeof data),
            p11()->C_SignInit(s[1], &signing, privateKey), p11()->C_SignUpdate(s[1], data, sizeof data),
            p11()->C_CloseSession(s[0]),                  p11()->C_CloseSession(s[1]),
            p11()->C_VerifyInit(s[2], &signing, publicKey), p11()->C_VerifyUpdate(s[2], data, sizeof data),
            p11()->C_EncryptInit(s[3], &rsa, publicKey),  p11()->C_Encrypt(s[3], data, 32, out, &length),
            p11()->C_DecryptInit(s[3], &rsa, privateKey), p11()->C_Decrypt(s[3], out, length, nullptr, &plainLength)};
        EXPECT_EQ(results, std::vector<CK_RV>(results.size(), CKR_OK));
        ASSERT_EQ(p11()->C_Finalize(nullptr), CKR_OK);
        ASSERT_EQ(p11()->C_Initialize(nullptr), CKR_OK);
    }
}

}  // namespace
}  // namespace e2e
