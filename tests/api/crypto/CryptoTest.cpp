#include "CryptoTest.h"

#include <functional>

using namespace testing_support;

namespace crypto_tests {

void CryptoTest::SetUp() {
    ModuleTest::SetUp();
    fakeLibrary().addKeyPair(defaultDevice, makeFakeKeyPair(0, keyKindRsa2048, "rsa", {0x01}));
    fakeLibrary().addKeyPair(defaultDevice, makeFakeKeyPair(1, keyKindEcP256, "ec", {0x02}));
    fakeLibrary().addKeyPair(defaultDevice, makeFakeKeyPair(2, keyKindRsa1024, "rsa1024", {0x03}));
    session = openSession();
    login(session);
    fakeLibrary().clearCalls();
    removeFile(todaysLogFile());
}

namespace {
CK_RV initWith(CK_RV (*init)(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE), CK_SESSION_HANDLE session,
               CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE key) {
    CK_MECHANISM mechanism{type, nullptr, 0};
    return init(session, &mechanism, key);
}
}  // namespace

CK_RV CryptoTest::signInit(CK_MECHANISM_TYPE mechanism, CK_OBJECT_HANDLE key) {
    return initWith(f()->C_SignInit, session, mechanism, key);
}
CK_RV CryptoTest::verifyInit(CK_MECHANISM_TYPE mechanism, CK_OBJECT_HANDLE key) {
    return initWith(f()->C_VerifyInit, session, mechanism, key);
}
CK_RV CryptoTest::encryptInit(CK_OBJECT_HANDLE key) { return initWith(f()->C_EncryptInit, session, CKM_RSA_PKCS, key); }
CK_RV CryptoTest::decryptInit(CK_OBJECT_HANDLE key) { return initWith(f()->C_DecryptInit, session, CKM_RSA_PKCS, key); }
CK_RV CryptoTest::digestInit(CK_MECHANISM_TYPE type) {
    CK_MECHANISM mechanism{type, nullptr, 0};
    return f()->C_DigestInit(session, &mechanism);
}

CK_RV CryptoTest::call(OneCall function, Bytes data, CK_BYTE_PTR out, CK_ULONG* length) {
    return function(session, ptr(data), static_cast<CK_ULONG>(data.size()), out, length);
}

Bytes CryptoTest::callTwice(OneCall function, const Bytes& data) {
    CK_ULONG length = 0;
    EXPECT_EQ(CKR_OK, call(function, data, nullptr, &length));
    Bytes out(length);
    EXPECT_EQ(CKR_OK, call(function, data, ptr(out), &length));
    out.resize(length);
    return out;
}

CK_SESSION_HANDLE CryptoTest::publicReadOnlySession() {
    EXPECT_EQ(CKR_OK, f()->C_Logout(session));
    return openSession(false);
}

bool CryptoTest::logMentions(const std::string& text) const {
    return readFile(todaysLogFile()).find(text) != std::string::npos;
}

std::size_t deviceCalls() {
    std::size_t count = 0;
    for (const FakeCall& call : fakeLibrary().calls()) {
        if (call.operation != "zelmor_getConnectedDeviceList") ++count;
    }
    return count;
}

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes identifierOf(uint32_t number) {
    ZelmorKeyPair keyPair = makeFakeKeyPair(number, keyKindRsa2048, "", {});
    return Bytes(keyPair.identifier, keyPair.identifier + zelmorIdentifierSize);
}

Bytes publicValueOf(const ZelmorKeyPair& keyPair) {
    return Bytes(keyPair.publicValue, keyPair.publicValue + keyPair.publicValueLength);
}

Bytes fakeDigestOf(int32_t algorithm, const Bytes& data) {
    // Ask the fake itself, outside the module.
    ZelmorHashContext context = nullptr;
    zelmor_initHash("", algorithm, &context, nullptr);
    zelmor_updateHash(context, data.data(), static_cast<uint32_t>(data.size()), nullptr);
    Bytes digest(64);
    uint32_t length = 64;
    zelmor_finalHash(context, digest.data(), &length, nullptr);
    digest.resize(length);
    // Leave no trace of these three calls in the record.
    fakeLibrary().edit([](FakeState& state) { state.calls.resize(state.calls.size() - 3); });
    return digest;
}

CK_BYTE_PTR ptr(Bytes& bytes) { return bytes.empty() ? nullptr : bytes.data(); }

// Every data call of every operation family, before its Init.
TEST_F(CryptoTest, DataCallsWithoutInitAreRefused) {
    Bytes data(4, 1), out(512);
    CK_ULONG length = 512;
    const CK_RV results[] = {
        call(f()->C_Sign, data, ptr(out), &length),      f()->C_SignUpdate(session, ptr(data), 4),
        f()->C_SignFinal(session, ptr(out), &length),    f()->C_Verify(session, ptr(data), 4, ptr(out), 4),
        f()->C_VerifyUpdate(session, ptr(data), 4),      f()->C_VerifyFinal(session, ptr(out), 4),
        call(f()->C_Digest, data, ptr(out), &length),    f()->C_DigestUpdate(session, ptr(data), 4),
        f()->C_DigestFinal(session, ptr(out), &length),  call(f()->C_Encrypt, data, ptr(out), &length),
        call(f()->C_Decrypt, data, ptr(out), &length),
    };
    for (std::size_t i = 0; i < sizeof results / sizeof results[0]; ++i) {
        EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, results[i]) << "call " << i;
    }
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_Sign(0x60FFFFFF, ptr(data), 4, ptr(out), &length));
    EXPECT_EQ(0u, deviceCalls());
}

// Two-call output of every one-call operation: the length query costs the
// only device call, a buffer one byte short receives nothing, and the fetch
// ends the operation.
TEST_F(CryptoTest, TwoCallConventionCostsOneDeviceCall) {
    const struct {
        const char* deviceOperation;
        OneCall function;
        std::function<CK_RV()> init;
        Bytes output;
    } cases[] = {
        {"zelmor_signHash", f()->C_Sign, [this] { return signInit(CKM_SHA256_RSA_PKCS); }, Bytes(256, 0x5C)},
        {"zelmor_finalHash", f()->C_Digest, [this] { return digestInit(CKM_SHA_1); }, Bytes(20, 0xD1)},
        // Public-key handles serve for encryption.
        {"zelmor_encrypt", f()->C_Encrypt, [this] { return encryptInit(rsaPublicKey); }, Bytes(256, 0xC7)},
        {"zelmor_decrypt", f()->C_Decrypt, [this] { return decryptInit(rsa1024Key); }, bytesOf("plaintext")},
        // An empty plaintext is a result too, not a sign that none was computed.
        {"zelmor_decrypt", f()->C_Decrypt, [this] { return decryptInit(rsa1024Key); }, Bytes()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.deviceOperation);
        fakeLibrary().setOutput(c.deviceOperation, c.output);
        fakeLibrary().clearCalls();
        ASSERT_EQ(CKR_OK, c.init());
        CK_ULONG length = 0;
        ASSERT_EQ(CKR_OK, call(c.function, bytesOf("message"), nullptr, &length));
        EXPECT_EQ(c.output.size(), length);
        const std::size_t callsAfterQuery = deviceCalls();

        Bytes out(c.output.size() + 1, 0xEE);
        if (!c.output.empty()) {
            length = static_cast<CK_ULONG>(c.output.size() - 1);
            EXPECT_EQ(CKR_BUFFER_TOO_SMALL, call(c.function, bytesOf("message"), ptr(out), &length));
            EXPECT_EQ(c.output.size(), length);
            EXPECT_EQ(Bytes(out.size(), 0xEE), out);
        }
        // The later calls' data is ignored, but it must still be given.
        length = static_cast<CK_ULONG>(out.size());
        ASSERT_EQ(CKR_OK, call(c.function, bytesOf("other"), ptr(out), &length));
        EXPECT_EQ(c.output.size(), length);
        EXPECT_EQ(c.output, Bytes(out.begin(), out.end() - 1));
        EXPECT_EQ(0xEE, out.back());
        EXPECT_EQ(callsAfterQuery, deviceCalls());
        EXPECT_EQ(1u, fakeLibrary().callCount(c.deviceOperation));
        EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, call(c.function, bytesOf("message"), nullptr, &length));
    }
}

}  // namespace crypto_tests
