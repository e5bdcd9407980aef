// End-to-end tests: the built module loaded by path, running on the virtual
// device library's code. The program carries the library's functions itself
// and exports them, so the module binds to this copy and the tests reach the
// store's write-fault hook. Every run gets a private folder: the store
// ($ZELMOR_SIM_HOME), the temporary folder the module logs under, and the
// log-level setting (3). Under AddressSanitizer, LeakSanitizer checks the
// module and the library at exit.
#include <dlfcn.h>
#include <sys/stat.h>

#include <openssl/core_names.h>
#include <openssl/evp.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <thread>
#include <tuple>

#include "device/DeviceAdministration.h"
#include "pkcs11.h"
#include "store/DeviceStore.h"
#include "store/WriteFaults.h"

namespace e2e {
namespace {

using Bytes = std::vector<uint8_t>;
const std::string pin = "7391046285", newPin = "5820913746", wrongPin = "6150287394";

struct KeyKind {
    const char* name;  // the libcrypto group name of a curve
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

zelmor::sim::DeviceStore store() { return zelmor::sim::DeviceStore(runFolder() + "/store"); }

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
    if (create) zelmor::sim::createDevice(store(), {serial, pin});
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

// The public key as libcrypto sees it, from the object's attributes alone.
std::shared_ptr<EVP_PKEY> publicKeyOf(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, const KeyKind& kind) {
    Bytes modulus = attribute(session, object, CKA_MODULUS), point = attribute(session, object, CKA_VALUE);
    std::reverse(modulus.begin(), modulus.end());  // native byte order for OSSL_PARAM_construct_BN
    unsigned char exponent[] = {0x01, 0x00, 0x01};
    // EC: the curve's OID in CKA_EC_PARAMS, the bare point (0x04, X, Y) in CKA_VALUE.
    EXPECT_EQ(attribute(session, object, CKA_EC_PARAMS), kind.curve);
    std::string group = kind.name;
    OSSL_PARAM params[] = {
        kind.bits ? OSSL_PARAM_construct_BN(OSSL_PKEY_PARAM_RSA_N, modulus.data(), modulus.size())
                  : OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, &group[0], 0),
        kind.bits ? OSSL_PARAM_construct_BN(OSSL_PKEY_PARAM_RSA_E, exponent, sizeof exponent)
                  : OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size()),
        OSSL_PARAM_construct_end()};
    std::shared_ptr<EVP_PKEY_CTX> context(EVP_PKEY_CTX_new_from_name(nullptr, kind.bits ? "RSA" : "EC", nullptr),
                                          EVP_PKEY_CTX_free);
    EVP_PKEY* key = nullptr;
    EVP_PKEY_fromdata_init(context.get());
    EVP_PKEY_fromdata(context.get(), &key, EVP_PKEY_PUBLIC_KEY, params);
    return std::shared_ptr<EVP_PKEY>(key, EVP_PKEY_free);
}

// md: the digest the mechanism applies, null for raw input. ECDSA signatures
// come as r||s; libcrypto wants the DER sequence.
bool libcryptoVerifies(EVP_PKEY* key, const EVP_MD* md, const Bytes& data, Bytes signature) {
    if (EVP_PKEY_get_base_id(key) == EVP_PKEY_EC) {
        const int half = static_cast<int>(signature.size() / 2);
        ECDSA_SIG* sig = ECDSA_SIG_new();
        ECDSA_SIG_set0(sig, BN_bin2bn(&signature[0], half, nullptr), BN_bin2bn(&signature[half], half, nullptr));
        signature.resize(std::max(i2d_ECDSA_SIG(sig, nullptr), 0));
        unsigned char* der = signature.data();
        i2d_ECDSA_SIG(sig, &der);
        ECDSA_SIG_free(sig);
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = static_cast<unsigned int>(data.size());
    if (md != nullptr) EVP_Digest(data.data(), data.size(), digest, &length, md, nullptr);
    else std::copy(data.begin(), data.end(), digest);
    std::shared_ptr<EVP_PKEY_CTX> context(EVP_PKEY_CTX_new(key, nullptr), EVP_PKEY_CTX_free);
    return EVP_PKEY_verify_init(context.get()) == 1 &&
           (md == nullptr || EVP_PKEY_CTX_set_signature_md(context.get(), md) == 1) &&
           EVP_PKEY_verify(context.get(), signature.data(), signature.size(), digest, length) == 1;
}

// Every key kind, every signing mechanism: each signature checked by libcrypto
// and by C_Verify (a changed bit fails it); RSA encryption and decryption.
TEST(E2eTest, GeneratedKeysSignAndDecryptAsLibcryptoExpects) {
    const std::tuple<CK_KEY_TYPE, CK_MECHANISM_TYPE, const EVP_MD*> mechanisms[] = {
        {CKK_RSA, CKM_RSA_PKCS, nullptr},             {CKK_RSA, CKM_SHA1_RSA_PKCS, EVP_sha1()},
        {CKK_RSA, CKM_SHA256_RSA_PKCS, EVP_sha256()}, {CKK_RSA, CKM_SHA384_RSA_PKCS, EVP_sha384()},
        {CKK_RSA, CKM_SHA512_RSA_PKCS, EVP_sha512()}, {CKK_EC, CKM_ECDSA, nullptr},
        {CKK_EC, CKM_ECDSA_SHA1, EVP_sha1()},         {CKK_EC, CKM_ECDSA_SHA256, EVP_sha256()},
        {CKK_EC, CKM_ECDSA_SHA384, EVP_sha384()},
    };
    CK_SESSION_HANDLE session = openSession("CRYPTO01", true);
    for (const KeyKind& kind : keyKinds) {
        SCOPED_TRACE(kind.name);
        CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
        ASSERT_EQ(generate(session, kind, kind.name, &privateKey, &publicKey), CKR_OK);
        std::shared_ptr<EVP_PKEY> key = publicKeyOf(session, publicKey, kind);
        ASSERT_NE(key, nullptr);
        // 35 bytes: an RSA input of a hash's length would be taken as a bare hash.
        Bytes data(35, 0x5A);
        for (const auto& [keyType, type, md] : mechanisms) {
            if (keyType != (kind.bits ? CKK_RSA : CKK_EC)) continue;
            SCOPED_TRACE("mechanism " + std::to_string(type));
            Bytes signature = sign(session, privateKey, type, data);
            ASSERT_EQ(signature.size(), kind.signatureSize);
            EXPECT_TRUE(libcryptoVerifies(key.get(), md, data, signature));
            CK_MECHANISM mechanism{type, nullptr, 0};
            for (CK_RV expected : {CKR_OK, CKR_SIGNATURE_INVALID}) {
                ASSERT_EQ(p11()->C_VerifyInit(session, &mechanism, publicKey), CKR_OK);
                EXPECT_EQ(p11()->C_Verify(session, &data[0], data.size(), &signature[0], signature.size()), expected);
                signature[signature.size() / 3] ^= 0x01;
            }
        }
        if (!kind.bits) continue;
        // Encrypted with the public key the module encodes for the device, decrypted on the device.
        CK_MECHANISM rsa{CKM_RSA_PKCS, nullptr, 0};
        Bytes plain{'s', 'e', 'c', 'r', 'e', 't', 0, 1, 2}, encrypted(kind.signatureSize), back(kind.signatureSize);
        CK_ULONG length = encrypted.size(), backLength = back.size();
        ASSERT_EQ(p11()->C_EncryptInit(session, &rsa, publicKey), CKR_OK);
        ASSERT_EQ(p11()->C_Encrypt(session, &plain[0], plain.size(), &encrypted[0], &length), CKR_OK);
        ASSERT_EQ(p11()->C_DecryptInit(session, &rsa, privateKey), CKR_OK);
        ASSERT_EQ(p11()->C_Decrypt(session, &encrypted[0], length, &back[0], &backLength), CKR_OK);
        EXPECT_EQ(Bytes(back.begin(), back.begin() + backLength), plain);
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
    CK_OBJECT_HANDLE key = 0, other = 0;
    ASSERT_EQ(generate(session, p256, "first", &key), CKR_OK);
    const auto earlier = labels(session);
    char renamed[] = "renamed";
    CK_ATTRIBUTE label{CKA_LABEL, renamed, sizeof renamed - 1};
    // The change, its number of store writes (each one is made to fail in
    // turn), and its code then: a failed device call, or for the login the
    // wrong PIN with attempts left.
    const std::tuple<const char*, unsigned, std::function<CK_RV()>, CK_RV> changes[] = {
        {"key generation", 2, [&] { return generate(session, p256, "second", &other); }, CKR_FUNCTION_FAILED},
        {"relabelling", 1, [&] { return p11()->C_SetAttributeValue(session, key, &label, 1); }, CKR_FUNCTION_FAILED},
        {"deletion", 1, [&] { return p11()->C_DestroyObject(session, key); }, CKR_FUNCTION_FAILED},
        {"retry count of a wrong PIN", 1, [&] { return login(session, wrongPin); }, CKR_PIN_INCORRECT},
    };
    for (const auto& [name, writes, change, failed] : changes) {
        for (unsigned write = 1; write <= writes; ++write) {
            SCOPED_TRACE(std::string(name) + ", failing write " + std::to_string(write));
            zelmor::sim::writefaults::failWriteNumber(write);
            EXPECT_EQ(change(), failed);
            zelmor::sim::writefaults::failWriteNumber(0);
            ASSERT_EQ(login(session, pin), CKR_OK);
            EXPECT_EQ(labels(session), earlier);
            EXPECT_EQ(sign(session, key, CKM_ECDSA_SHA256).size(), 64u);
        }
    }
}

TEST(E2eTest, UnpluggingDemotesTheLoggedInSessionAndEmptiesTheSlot) {
    const CK_SESSION_HANDLE session = openSession("PLUG0001", true);
    const auto state = [&] {
        CK_SESSION_INFO info{};
        p11()->C_GetSessionInfo(session, &info);
        return info.state;
    };
    ASSERT_EQ(state(), CKS_RW_USER_FUNCTIONS);
    zelmor::sim::setPlugged(store(), "PLUG0001", false);
    for (int wait = 0; wait < 50 && state() == CKS_RW_USER_FUNCTIONS; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(state(), CKS_RW_PUBLIC_SESSION);
    EXPECT_EQ(slotOf("PLUG0001"), 0u);
}

// PINs never leave the process: after PIN changes and wrong PINs at log level
// 3, no file of the run so far (logs, store) and nothing printed holds one,
// in clear, in hex or reversed.
TEST(E2eTest, NoPinInLogsStoreOrStandardOutput) {
    CK_SESSION_HANDLE session = openSession("SECRET01", true);
    const auto setPin = [&](std::string from, std::string to) {
        return p11()->C_SetPIN(session, reinterpret_cast<CK_UTF8CHAR_PTR>(&from[0]), from.size(),
                               reinterpret_cast<CK_UTF8CHAR_PTR>(&to[0]), to.size());
    };
    ::testing::internal::CaptureStdout();
    const std::vector<CK_RV> results{login(session, wrongPin), login(session, pin),     setPin(pin, newPin),
                                     setPin(wrongPin, pin),    login(session, newPin), setPin(newPin, pin)};
    std::string everything = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(results, std::vector<CK_RV>({CKR_PIN_INCORRECT, CKR_OK, CKR_OK, CKR_FUNCTION_FAILED, CKR_OK, CKR_OK}));
    for (const auto& entry : std::filesystem::recursive_directory_iterator(runFolder())) {
        if (!entry.is_regular_file()) continue;
        std::ifstream file(entry.path(), std::ios::binary);
        everything.append(std::istreambuf_iterator<char>(file), {}).append("\n");
    }
    EXPECT_NE(everything.find("C_Login"), std::string::npos) << "the log did not record the flows";
    std::transform(everything.begin(), everything.end(), everything.begin(), ::toupper);
    for (const std::string& secret : {pin, newPin, wrongPin}) {
        std::string hex;  // as the module's and the library's hex, in either case
        for (unsigned char c : secret) hex += {"0123456789ABCDEF"[c >> 4], "0123456789ABCDEF"[c & 15]};
        for (const std::string& form : {secret, hex, std::string(secret.rbegin(), secret.rend())})
            EXPECT_EQ(everything.find(form), std::string::npos) << "a file or standard output holds " << form;
    }
}

}  // namespace
}  // namespace e2e
