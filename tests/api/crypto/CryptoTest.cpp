#include "CryptoTest.h"

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

Bytes CryptoTest::signAll(const Bytes& data) {
    Bytes copy = data;
    CK_ULONG length = 0;
    EXPECT_EQ(CKR_OK, f()->C_Sign(session, ptr(copy), static_cast<CK_ULONG>(copy.size()), nullptr, &length));
    Bytes signature(length);
    EXPECT_EQ(CKR_OK, f()->C_Sign(session, ptr(copy), static_cast<CK_ULONG>(copy.size()), ptr(signature), &length));
    signature.resize(length);
    return signature;
}

Bytes CryptoTest::digestAll(const Bytes& data) {
    Bytes copy = data;
    CK_ULONG length = 0;
    EXPECT_EQ(CKR_OK, f()->C_Digest(session, ptr(copy), static_cast<CK_ULONG>(copy.size()), nullptr, &length));
    Bytes digest(length);
    EXPECT_EQ(CKR_OK, f()->C_Digest(session, ptr(copy), static_cast<CK_ULONG>(copy.size()), ptr(digest), &length));
    digest.resize(length);
    return digest;
}

CK_SESSION_HANDLE CryptoTest::publicReadOnlySession() {
    EXPECT_EQ(CKR_OK, f()->C_Logout(session));
    return openSession(false);
}

bool CryptoTest::hasDebugLine(const std::string& text) const {
    return readFile(todaysLogFile()).find("->DEBUG ::=>" + text + "\n") != std::string::npos;
}
bool CryptoTest::hasErrorLine(const std::string& text) const {
    return readFile(todaysLogFile()).find("->ERROR ::=>" + text + "\n") != std::string::npos;
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

}  // namespace crypto_tests
