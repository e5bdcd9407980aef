// Encryption and decryption through the loaded module.
#include "CryptoTest.h"

using namespace testing_support;
using namespace crypto_tests;

namespace {
class CipherTest : public CryptoTest {};
}  // namespace

TEST_F(CipherTest, EncryptionTypeAndEncodedKeyByKeyKind) {
    const struct {
        uint32_t keyKind;
        int64_t encryptionType;
        std::size_t encodedLength;  // the fake's moduli begin with 0xC1 (RSA) or 0x04 (EC)
    } cases[] = {{1, 7, 162}, {2, 8, 294}, {3, 9, 422}, {4, 10, 550}, {5, 8, 94}, {0, 8, 294}, {9, 8, 294}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.keyKind);
        fakeLibrary().edit([&](FakeState& state) {
            state.devices[defaultDevice].keyPairs.push_back(makeFakeKeyPair(20, c.keyKind, "", {}));
        });
        fakeLibrary().clearCalls();
        ASSERT_EQ(CKR_OK, encryptInit(0x70000000 + 20));
        Bytes out(1024);
        CK_ULONG length = 1024;
        ASSERT_EQ(CKR_OK, call(f()->C_Encrypt, bytesOf("plain"), ptr(out), &length));
        auto encrypts = fakeLibrary().calls("zelmor_encrypt");
        ASSERT_EQ(1u, encrypts.size());
        EXPECT_EQ(c.encryptionType, encrypts[0].number);
        EXPECT_EQ(1, encrypts[0].number2);
        EXPECT_EQ(bytesOf("plain"), encrypts[0].data);
        EXPECT_EQ(c.encodedLength, encrypts[0].identifier.size());
        if (c.keyKind == keyKindRsa2048) {  // the key pair's own modulus (the encoding is unit-tested)
            const Bytes& der = encrypts[0].identifier;
            EXPECT_EQ(publicValueOf(makeFakeKeyPair(20, c.keyKind, "", {})), Bytes(der.begin() + 33, der.begin() + 289));
        }
        fakeLibrary().edit([](FakeState& state) { state.devices[defaultDevice].keyPairs.pop_back(); });
    }
}

TEST_F(CipherTest, InitChecks) {
    CK_MECHANISM oaep{CKM_RSA_PKCS_OAEP, nullptr, 0};
    CK_MECHANISM withParameter{CKM_RSA_PKCS, &oaep, sizeof oaep};
    for (auto init : {f()->C_EncryptInit, f()->C_DecryptInit}) {
        EXPECT_EQ(CKR_ARGUMENTS_BAD, init(session, nullptr, rsaKey));
        EXPECT_EQ(CKR_MECHANISM_INVALID, init(session, &oaep, rsaKey));
        EXPECT_EQ(CKR_MECHANISM_PARAM_INVALID, init(session, &withParameter, rsaKey));
    }
    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, encryptInit(0x10));
    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, decryptInit(0x10));
    EXPECT_FALSE(logMentions("Invalid input handle"));
    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, encryptInit(missingKey));
    EXPECT_TRUE(hasErrorLine("Invalid input handle in encrypt : 1879048201"));
    // Decryption looks up number hKey - 0x70000000: a public-key handle names nothing.
    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, decryptInit(rsaPublicKey));
    EXPECT_TRUE(hasErrorLine("Invalid input handle in decrypt : 1879052288"));

    ASSERT_EQ(CKR_OK, signInit(CKM_RSA_PKCS));
    EXPECT_EQ(CKR_OPERATION_ACTIVE, encryptInit());
    EXPECT_EQ(CKR_OPERATION_ACTIVE, decryptInit());

    // Decryption needs a session state that allows operations; encryption does not.
    CK_SESSION_HANDLE readOnly = publicReadOnlySession();
    CK_MECHANISM mechanism{CKM_RSA_PKCS, nullptr, 0};
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_DecryptInit(readOnly, &mechanism, rsaKey));
    EXPECT_TRUE(hasDebugLine("Decrypt session state invalid : 0"));
    EXPECT_EQ(CKR_OK, f()->C_EncryptInit(readOnly, &mechanism, rsaKey));
}

// A failed decryption keeps its operation; a failed encryption ends it.
TEST_F(CipherTest, DeviceFailures) {
    // The library hands out a buffer even though it fails: it must still be freed.
    fakeLibrary().edit([](FakeState& state) { state.decryptAllocatesOnFailure = true; });
    fakeLibrary().setResult("zelmor_decrypt", 21);
    ASSERT_EQ(CKR_OK, decryptInit());
    Bytes cipher(256, 1), out(256);
    CK_ULONG length = 256;
    EXPECT_EQ(CKR_FUNCTION_FAILED, call(f()->C_Decrypt, cipher, ptr(out), &length));
    EXPECT_TRUE(hasErrorLine("Dacrypt data failed : 21"));
    fakeLibrary().edit([](FakeState& state) { state.forcedResults.clear(); });
    EXPECT_EQ(CKR_OK, call(f()->C_Decrypt, cipher, ptr(out), &length));
    EXPECT_EQ(2u, fakeLibrary().callCount("zelmor_decrypt"));

    fakeLibrary().setResult("zelmor_encrypt", 30);
    ASSERT_EQ(CKR_OK, encryptInit());
    EXPECT_EQ(CKR_FUNCTION_FAILED, call(f()->C_Encrypt, Bytes(5, 1), nullptr, &length));
    EXPECT_TRUE(hasErrorLine("Encrypt data failed : 30"));
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, call(f()->C_Encrypt, Bytes(5, 1), nullptr, &length));
}

TEST_F(CipherTest, ArgumentErrorsLeaveTheOperationActive) {
    Bytes data(4, 1), out(512);
    CK_ULONG length = 512;
    ASSERT_EQ(CKR_OK, encryptInit());
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_Encrypt(session, nullptr, 4, ptr(out), &length));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_Encrypt(session, ptr(data), 0, ptr(out), &length));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_Encrypt(session, ptr(data), 4, ptr(out), nullptr));
    EXPECT_EQ(CKR_OK, call(f()->C_Encrypt, data, ptr(out), &length));

    ASSERT_EQ(CKR_OK, decryptInit());
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_Decrypt(session, nullptr, 4, ptr(out), &length));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_Decrypt(session, ptr(data), 0, ptr(out), &length));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_Decrypt(session, ptr(data), 4, ptr(out), nullptr));
    EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_decrypt"));
    length = 512;
    EXPECT_EQ(CKR_OK, call(f()->C_Decrypt, data, ptr(out), &length));
    auto decrypts = fakeLibrary().calls("zelmor_decrypt");
    ASSERT_EQ(1u, decrypts.size());
    EXPECT_EQ(defaultDevice, decrypts[0].deviceName);
    EXPECT_EQ(defaultPin, decrypts[0].password);
    EXPECT_EQ(identifierOf(0), decrypts[0].identifier);
    EXPECT_EQ(data, decrypts[0].data);
    EXPECT_TRUE(decrypts[0].flag);  // the fake's key flag byte is 1
}

TEST_F(CipherTest, ClosingTheSessionWithAPlaintextKeptLeaksNothing) {
    ASSERT_EQ(CKR_OK, decryptInit());
    CK_ULONG length = 0;
    ASSERT_EQ(CKR_OK, call(f()->C_Decrypt, Bytes(256, 2), nullptr, &length));
    EXPECT_EQ(CKR_OK, f()->C_CloseSession(session));
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, call(f()->C_Decrypt, Bytes(256, 2), nullptr, &length));
}
