// Encryption and decryption through the loaded module.
#include "CryptoTest.h"

using namespace testing_support;
using namespace crypto_tests;

namespace {

class CipherTest : public CryptoTest {
protected:
    CK_RV encryptCall(Bytes& data, CK_BYTE_PTR out, CK_ULONG* length) {
        return f()->C_Encrypt(session, ptr(data), static_cast<CK_ULONG>(data.size()), out, length);
    }
    CK_RV decryptCall(Bytes& data, CK_BYTE_PTR out, CK_ULONG* length) {
        return f()->C_Decrypt(session, ptr(data), static_cast<CK_ULONG>(data.size()), out, length);
    }
};

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
        Bytes data = bytesOf("plain"), out(1024);
        CK_ULONG length = 1024;
        ASSERT_EQ(CKR_OK, encryptCall(data, ptr(out), &length));
        auto encrypts = fakeLibrary().calls("zelmor_encrypt");
        ASSERT_EQ(1u, encrypts.size());
        EXPECT_EQ(c.encryptionType, encrypts[0].number);
        EXPECT_EQ(1, encrypts[0].number2);
        EXPECT_EQ(data, encrypts[0].data);
        EXPECT_EQ(c.encodedLength, encrypts[0].identifier.size());
        fakeLibrary().edit([](FakeState& state) { state.devices[defaultDevice].keyPairs.pop_back(); });
    }
}

TEST_F(CipherTest, EncodedKeyCarriesTheModulus) {
    ASSERT_EQ(CKR_OK, encryptInit(rsaKey));
    Bytes data(10, 1), out(1024);
    CK_ULONG length = 1024;
    ASSERT_EQ(CKR_OK, encryptCall(data, ptr(out), &length));
    Bytes der = fakeLibrary().calls("zelmor_encrypt").at(0).identifier;
    ASSERT_EQ(294u, der.size());
    const Bytes head{0x30, 0x82, 0x01, 0x22, 0x30, 0x0D, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01,
                     0x01, 0x05, 0x00, 0x03, 0x82, 0x01, 0x0F, 0x00, 0x30, 0x82, 0x01, 0x0A, 0x02, 0x82, 0x01, 0x01, 0x00};
    EXPECT_EQ(head, Bytes(der.begin(), der.begin() + 33));
    EXPECT_EQ(publicValueOf(makeFakeKeyPair(0, keyKindRsa2048, "", {})), Bytes(der.begin() + 33, der.begin() + 289));
    EXPECT_EQ(Bytes({0x02, 0x03, 0x01, 0x00, 0x01}), Bytes(der.end() - 5, der.end()));
}

TEST_F(CipherTest, EncryptLengthQueryThenFetch) {
    fakeLibrary().setOutput("zelmor_encrypt", Bytes(256, 0xC7));
    ASSERT_EQ(CKR_OK, encryptInit(rsaPublicKey));  // public-key handles serve for encryption
    Bytes data = bytesOf("secret");
    CK_ULONG length = 0;
    ASSERT_EQ(CKR_OK, encryptCall(data, nullptr, &length));
    EXPECT_EQ(256u, length);
    Bytes out(255, 0xEE);
    length = 255;
    EXPECT_EQ(CKR_BUFFER_TOO_SMALL, encryptCall(data, ptr(out), &length));
    EXPECT_EQ(256u, length);
    EXPECT_EQ(Bytes(255, 0xEE), out);
    out.assign(256, 0);
    ASSERT_EQ(CKR_OK, encryptCall(data, ptr(out), &length));
    EXPECT_EQ(Bytes(256, 0xC7), out);
    EXPECT_EQ(1u, fakeLibrary().callCount("zelmor_encrypt"));
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, encryptCall(data, ptr(out), &length));
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
}

TEST_F(CipherTest, DecryptionNeedsAnOperationStateEncryptionDoesNot) {
    CK_SESSION_HANDLE readOnly = publicReadOnlySession();
    CK_MECHANISM mechanism{CKM_RSA_PKCS, nullptr, 0};
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_DecryptInit(readOnly, &mechanism, rsaKey));
    EXPECT_TRUE(hasDebugLine("Decrypt session state invalid : 0"));
    EXPECT_EQ(CKR_OK, f()->C_EncryptInit(readOnly, &mechanism, rsaKey));
}

TEST_F(CipherTest, DecryptReachesTheDeviceOnceForBothCalls) {
    fakeLibrary().setOutput("zelmor_decrypt", bytesOf("plaintext"));
    ASSERT_EQ(CKR_OK, decryptInit(rsa1024Key));
    Bytes cipher(128, 0x3C);
    CK_ULONG length = 0;
    ASSERT_EQ(CKR_OK, decryptCall(cipher, nullptr, &length));
    EXPECT_EQ(9u, length);
    Bytes out(8);
    length = 8;
    EXPECT_EQ(CKR_BUFFER_TOO_SMALL, decryptCall(cipher, ptr(out), &length));
    out.resize(9);
    ASSERT_EQ(CKR_OK, decryptCall(cipher, ptr(out), &length));
    EXPECT_EQ(bytesOf("plaintext"), out);
    auto decrypts = fakeLibrary().calls("zelmor_decrypt");
    ASSERT_EQ(1u, decrypts.size());
    EXPECT_EQ(defaultDevice, decrypts[0].deviceName);
    EXPECT_EQ(defaultPin, decrypts[0].password);
    EXPECT_EQ(identifierOf(2), decrypts[0].identifier);
    EXPECT_EQ(cipher, decrypts[0].data);
    EXPECT_TRUE(decrypts[0].flag);  // the fake's key flag byte is 1
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, decryptCall(cipher, ptr(out), &length));
}

TEST_F(CipherTest, FailedDecryptionStaysActiveAndFreesTheBuffer) {
    // The library hands out a buffer even though it fails: it must still be freed.
    fakeLibrary().edit([](FakeState& state) { state.decryptAllocatesOnFailure = true; });
    fakeLibrary().setResult("zelmor_decrypt", 21);
    ASSERT_EQ(CKR_OK, decryptInit());
    Bytes cipher(256, 1), out(256);
    CK_ULONG length = 256;
    EXPECT_EQ(CKR_FUNCTION_FAILED, decryptCall(cipher, ptr(out), &length));
    EXPECT_TRUE(hasErrorLine("Dacrypt data failed : 21"));
    fakeLibrary().edit([](FakeState& state) { state.forcedResults.clear(); });
    EXPECT_EQ(CKR_OK, decryptCall(cipher, ptr(out), &length));
    EXPECT_EQ(2u, fakeLibrary().callCount("zelmor_decrypt"));
}

TEST_F(CipherTest, FailedEncryptionEndsTheOperation) {
    fakeLibrary().setResult("zelmor_encrypt", 30);
    ASSERT_EQ(CKR_OK, encryptInit());
    Bytes data(5, 1);
    CK_ULONG length = 0;
    EXPECT_EQ(CKR_FUNCTION_FAILED, encryptCall(data, nullptr, &length));
    EXPECT_TRUE(hasErrorLine("Encrypt data failed : 30"));
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, encryptCall(data, nullptr, &length));
}

TEST_F(CipherTest, BadInputAndCallsWithoutInit) {
    Bytes data(4, 1), out(512);
    CK_ULONG length = 512;
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, encryptCall(data, ptr(out), &length));
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, decryptCall(data, ptr(out), &length));
    EXPECT_EQ(CKR_FUNCTION_NOT_SUPPORTED, f()->C_EncryptUpdate(session, ptr(data), 4, ptr(out), &length));

    ASSERT_EQ(CKR_OK, encryptInit());
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_Encrypt(session, nullptr, 4, ptr(out), &length));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_Encrypt(session, ptr(data), 0, ptr(out), &length));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_Encrypt(session, ptr(data), 4, ptr(out), nullptr));
    EXPECT_EQ(CKR_OK, encryptCall(data, ptr(out), &length));

    ASSERT_EQ(CKR_OK, decryptInit());
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_Decrypt(session, nullptr, 4, ptr(out), &length));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_Decrypt(session, ptr(data), 0, ptr(out), &length));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_Decrypt(session, ptr(data), 4, ptr(out), nullptr));
    EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_decrypt"));
    length = 512;
    EXPECT_EQ(CKR_OK, decryptCall(data, ptr(out), &length));
}

TEST_F(CipherTest, ClosingTheSessionWithAPlaintextKeptLeaksNothing) {
    ASSERT_EQ(CKR_OK, decryptInit());
    Bytes cipher(256, 2);
    CK_ULONG length = 0;
    ASSERT_EQ(CKR_OK, decryptCall(cipher, nullptr, &length));
    EXPECT_EQ(CKR_OK, f()->C_CloseSession(session));
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, decryptCall(cipher, nullptr, &length));
}
