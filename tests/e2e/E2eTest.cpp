// End-to-end tests: the built module loaded by path, running on the virtual
// device library's code. The program carries the library's functions itself
// and exports them, so the module binds to this copy and the tests reach the
// store's write-fault hook. Every run gets a private folder: the store
// ($ZELMOR_SIM_HOME), the temporary folder the module logs under, and the
// log-level setting (3). Under AddressSanitizer, LeakSanitizer checks the
// module and the library at exit.
#include <dlfcn.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>
#include <tuple>

#include "../sim/LibcryptoChecks.h"
#include "device/DeviceAdministration.h"
#include "pkcs11.h"
#include "store/DeviceStore.h"
#include "store/WriteFaults.h"

namespace e2e {
namespace {

using Bytes = std::vector<uint8_t>;
const std::string pin = "7391046285", wrongPin = "6150287394";

struct KeyKind {
    const char* name;  // EC: the libcrypto group name of the curve
    CK_ULONG bits;     // RSA; 0 for EC
    Bytes curve;       // EC: the curve's OID
    std::size_t signatureSize;
};
const KeyKind keyKinds[] = {
    {"RSA 1024", 1024, {}, 128},
    {"RSA 2048", 2048, {}, 256},
    {"P-256", 0, {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07}, 64},
    {"P-384", 0, {0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x22}, 96},
    {"P-521", 0, {0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x23}, 132},
};
const KeyKind &rsa1024 = keyKinds[0], &p256 = keyKinds[2];

const std::string& runFolder() {
    static const std::string folder = [] {
        char pattern[] = "/tmp/zelmor-e2e-XXXXXX";
        const std::string made = mkdtemp(pattern);
        std::ofstream(made + "/logLevel") << "3\n";
        setenv("ZELMOR_CONFIG_DIR", made.c_str(), 1);
        setenv("TMPDIR", made.c_str(), 1);
        setenv("ZELMOR_SIM_HOME", (made + "/store").c_str(), 1);
        return made;
    }();
    return folder;
}

// The module, initialised once for the run.
CK_FUNCTION_LIST_PTR p11() {
    static CK_FUNCTION_LIST_PTR functions = [] {
        runFolder();
        void* library = dlopen(ZELMOR_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
        auto getList = library ? reinterpret_cast<CK_C_GetFunctionList>(dlsym(library, "C_GetFunctionList")) : nullptr;
        CK_FUNCTION_LIST_PTR list = nullptr;
        if (getList == nullptr || getList(&list) != CKR_OK || list->C_Initialize(nullptr) != CKR_OK) std::abort();
        return list;
    }();
    return functions;
}

// The slot of the device with this serial number (zero-padded in the token information), or 0.
CK_SLOT_ID slotOf(const std::string& serial) {
    CK_SLOT_ID slots[32];
    CK_ULONG count = 32;
    CK_TOKEN_INFO info;
    if (p11()->C_GetSlotList(CK_TRUE, slots, &count) != CKR_OK) return 0;
    for (CK_ULONG i = 0; i < count; ++i) {
        const char* text = reinterpret_cast<char*>(info.serialNumber);
        if (p11()->C_GetTokenInfo(slots[i], &info) == CKR_OK && serial == std::string(text, 16).c_str()) return slots[i];
    }
    return 0;
}

// C_Logout first: the module keeps a device's PIN after its last session closes.
CK_RV login(CK_SESSION_HANDLE session, std::string pin) {
    p11()->C_Logout(session);
    return p11()->C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(&pin[0]), pin.size());
}

// A read-write session on the device (made in the store when new), logged in as the user.
CK_SESSION_HANDLE openSession(const std::string& serial, bool create = false) {
    if (create) zelmor::sim::createDevice(zelmor::sim::DeviceStore(runFolder() + "/store"), {serial, pin});
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    EXPECT_EQ(p11()->C_OpenSession(slotOf(serial), CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session),
              CKR_OK);
    EXPECT_EQ(login(session, pin), CKR_OK);
    return session;
}

Bytes attribute(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) {
    Bytes value(1024);
    CK_ATTRIBUTE query{type, value.data(), value.size()};
    value.resize(p11()->C_GetAttributeValue(session, object, &query, 1) == CKR_OK ? query.ulValueLen : 0);
    return value;
}

// The labels of every object the session sees, by handle.
std::map<CK_OBJECT_HANDLE, Bytes> labels(CK_SESSION_HANDLE session) {
    CK_OBJECT_HANDLE found[100];
    CK_ULONG count = 0;
    std::map<CK_OBJECT_HANDLE, Bytes> result;
    if (p11()->C_FindObjectsInit(session, nullptr, 0) == CKR_OK) p11()->C_FindObjects(session, found, 100, &count);
    p11()->C_FindObjectsFinal(session);
    for (CK_ULONG i = 0; i < count; ++i) result[found[i]] = attribute(session, found[i], CKA_LABEL);
    return result;
}

CK_RV generate(CK_SESSION_HANDLE session, const KeyKind& kind, std::string label, CK_OBJECT_HANDLE* privateKey,
               CK_OBJECT_HANDLE* publicKey = nullptr) {
    CK_BBOOL yes = CK_TRUE;
    CK_ULONG bits = kind.bits;
    Bytes oid = kind.curve;
    CK_KEY_TYPE keyType = bits ? CKK_RSA : CKK_EC;  // the private template decides the kind
    CK_ATTRIBUTE publicTemplate = bits ? CK_ATTRIBUTE{CKA_MODULUS_BITS, &bits, sizeof bits}
                                       : CK_ATTRIBUTE{CKA_EC_PARAMS, oid.data(), oid.size()};
    CK_ATTRIBUTE privateTemplate[] = {{CKA_KEY_TYPE, &keyType, sizeof keyType}, {CKA_SIGN, &yes, sizeof yes},
                                      {CKA_DECRYPT, &yes, sizeof yes}, {CKA_LABEL, &label[0], label.size()}};
    CK_MECHANISM mechanism{bits ? CKM_RSA_PKCS_KEY_PAIR_GEN : CKM_EC_KEY_PAIR_GEN, nullptr, 0};
    CK_OBJECT_HANDLE unused;
    return p11()->C_GenerateKeyPair(session, &mechanism, &publicTemplate, 1, privateTemplate, 4,
                                    publicKey ? publicKey : &unused, privateKey);
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
// and by C_Verify (a changed bit fails it).
TEST(E2eTest, GeneratedKeysSignAsLibcryptoExpects) {
    // The digest each mechanism applies; none for raw input.
    const std::tuple<CK_KEY_TYPE, CK_MECHANISM_TYPE, const char*> mechanisms[] = {
        {CKK_RSA, CKM_RSA_PKCS, nullptr},          {CKK_RSA, CKM_SHA1_RSA_PKCS, "SHA1"},
        {CKK_RSA, CKM_SHA256_RSA_PKCS, "SHA256"},  {CKK_RSA, CKM_SHA384_RSA_PKCS, "SHA384"},
        {CKK_RSA, CKM_SHA512_RSA_PKCS, "SHA512"},  {CKK_EC, CKM_ECDSA, nullptr},
        {CKK_EC, CKM_ECDSA_SHA1, "SHA1"},          {CKK_EC, CKM_ECDSA_SHA256, "SHA256"},
        {CKK_EC, CKM_ECDSA_SHA384, "SHA384"},
    };
    CK_SESSION_HANDLE session = openSession("CRYPTO01", true);
    for (const KeyKind& kind : keyKinds) {
        SCOPED_TRACE(kind.name);
        CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
        ASSERT_EQ(generate(session, kind, kind.name, &privateKey, &publicKey), CKR_OK);
        // EC: the curve's OID in CKA_EC_PARAMS, the bare point (0x04, X, Y) in CKA_VALUE.
        EXPECT_EQ(attribute(session, publicKey, CKA_EC_PARAMS), kind.curve);
        const libcrypto::Pkey key = libcrypto::publicKey(
            kind.bits ? nullptr : kind.name, attribute(session, publicKey, kind.bits ? CKA_MODULUS : CKA_VALUE));
        ASSERT_NE(key, nullptr);
        // 35 bytes: an RSA input of a hash's length would be taken as a bare hash.
        Bytes data(35, 0x5A);
        for (const auto& [keyType, type, digest] : mechanisms) {
            if (keyType != (kind.bits ? CKK_RSA : CKK_EC)) continue;
            SCOPED_TRACE("mechanism " + std::to_string(type));
            Bytes signature = sign(session, privateKey, type, data);
            ASSERT_EQ(signature.size(), kind.signatureSize);
            EXPECT_TRUE(libcrypto::verifies(key.get(), digest, libcrypto::hashed(digest, data), signature));
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
    CK_SESSION_HANDLE setup = openSession("LEAK0001", true);
    CK_OBJECT_HANDLE privateKey = 0, publicKey = 0;
    ASSERT_EQ(generate(setup, rsa1024, "kept", &privateKey, &publicKey), CKR_OK);
    const auto before = labels(setup);
    CK_BYTE data[64] = {9}, out[256];
    CK_ULONG length = sizeof out, plainLength = 0;
    CK_MECHANISM sha256{CKM_SHA256, nullptr, 0}, signing{CKM_SHA256_RSA_PKCS, nullptr, 0}, rsa{CKM_RSA_PKCS, nullptr, 0};
    for (int cycle = 0; cycle < 3; ++cycle) {
        CK_SESSION_HANDLE s[4];
        for (CK_SESSION_HANDLE& session : s) session = openSession("LEAK0001");
        EXPECT_EQ(labels(s[0]), before);
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

// A store write failing halfway (a full disk) fails the change; the device,
// as the module shows it, keeps its earlier content and works on.
TEST(E2eTest, WriteFailingHalfwayFailsTheChangeAndKeepsTheEarlierContent) {
    CK_SESSION_HANDLE session = openSession("FAULT001", true);
    CK_OBJECT_HANDLE key = 0;
    ASSERT_EQ(generate(session, p256, "first", &key), CKR_OK);
    const auto earlier = labels(session);
    char renamed[] = "renamed";
    CK_ATTRIBUTE label{CKA_LABEL, renamed, sizeof renamed - 1};
    // The change, which makes one store write, and its code when that write
    // fails: a failed device call, or for the login the wrong PIN with attempts left.
    const std::tuple<const char*, std::function<CK_RV()>, CK_RV> changes[] = {
        {"relabelling", [&] { return p11()->C_SetAttributeValue(session, key, &label, 1); }, CKR_FUNCTION_FAILED},
        {"deletion", [&] { return p11()->C_DestroyObject(session, key); }, CKR_FUNCTION_FAILED},
        {"retry count of a wrong PIN", [&] { return login(session, wrongPin); }, CKR_PIN_INCORRECT},
    };
    for (const auto& [name, change, failed] : changes) {
        SCOPED_TRACE(name);
        zelmor::sim::writefaults::failWriteNumber(1);
        EXPECT_EQ(change(), failed);
        zelmor::sim::writefaults::failWriteNumber(0);
        ASSERT_EQ(login(session, pin), CKR_OK);
        EXPECT_EQ(labels(session), earlier);
        EXPECT_EQ(sign(session, key, CKM_ECDSA_SHA256).size(), 64u);
    }
}

}  // namespace
}  // namespace e2e
