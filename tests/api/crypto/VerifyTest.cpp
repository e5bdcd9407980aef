// Verification through the loaded module.
#include "CryptoTest.h"

using namespace testing_support;
using namespace crypto_tests;

namespace {

class VerifyTest : public CryptoTest {
protected:
    CK_RV verifyOnce(Bytes data, Bytes signature) {
        return f()->C_Verify(session, ptr(data), static_cast<CK_ULONG>(data.size()), ptr(signature),
                             static_cast<CK_ULONG>(signature.size()));
    }
};

}  // namespace

TEST_F(VerifyTest, PrivateAndPublicHandlesVerifyWithTheSamePublicValue) {
    ZelmorKeyPair expected = makeFakeKeyPair(0, keyKindRsa2048, "", {});
    Bytes data = bytesOf("signed text"), signature(256, 0x77);
    for (CK_OBJECT_HANDLE key : {rsaKey, rsaPublicKey}) {
        SCOPED_TRACE(key);
        fakeLibrary().clearCalls();
        ASSERT_EQ(CKR_OK, verifyInit(CKM_SHA256_RSA_PKCS, key));
        EXPECT_EQ(CKR_OK, verifyOnce(data, signature));
        auto verifies = fakeLibrary().calls("zelmor_verifySignatureHash");
        ASSERT_EQ(1u, verifies.size());
        EXPECT_EQ(keyKindRsa2048, verifies[0].number);
        EXPECT_EQ(defaultDevice, verifies[0].deviceName);
        EXPECT_EQ(publicValueOf(expected), verifies[0].identifier);
        EXPECT_EQ(std::string(256, '\x77'), verifies[0].text);
        EXPECT_EQ(fakeDigestOf(3, data), verifies[0].data);
        EXPECT_EQ(3, fakeLibrary().calls("zelmor_initHash").at(0).number);
        EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, verifyOnce(data, signature));
    }
}

TEST_F(VerifyTest, InitChecks) {
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_VerifyInit(session, nullptr, rsaKey));
    EXPECT_EQ(CKR_MECHANISM_INVALID, verifyInit(CKM_ECDSA_SHA224));
    EXPECT_EQ(CKR_MECHANISM_INVALID, verifyInit(CKM_SHA_1));
    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, verifyInit(CKM_RSA_PKCS, 5));
    EXPECT_FALSE(logMentions("Invalid input handle in verify"));
    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, verifyInit(CKM_RSA_PKCS, 0x70001009));
    EXPECT_TRUE(hasErrorLine("Invalid input handle in verify : 1879052297"));

    // An active digest is replaced, and its hash context released.
    ASSERT_EQ(CKR_OK, digestInit(CKM_SHA256));
    ASSERT_EQ(CKR_OK, verifyInit(CKM_RSA_PKCS));
    CK_ULONG length = 0;
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, f()->C_DigestFinal(session, nullptr, &length));
    EXPECT_EQ(0, fakeLibrary().liveHashContexts());
    EXPECT_EQ(CKR_OPERATION_ACTIVE, verifyInit(CKM_RSA_PKCS));

    CK_MECHANISM mechanism{CKM_RSA_PKCS, nullptr, 0};
    CK_SESSION_HANDLE searching = openSession();
    ASSERT_EQ(CKR_OK, f()->C_FindObjectsInit(searching, nullptr, 0));
    EXPECT_EQ(CKR_OPERATION_ACTIVE, f()->C_VerifyInit(searching, &mechanism, rsaKey));

    // Unlike signing: a read-only public session and a mechanism parameter are accepted.
    CK_SESSION_HANDLE readOnly = publicReadOnlySession();
    CK_MECHANISM withParameter{CKM_ECDSA, &withParameter, 8};
    EXPECT_EQ(CKR_OK, f()->C_VerifyInit(readOnly, &withParameter, ecKey));
}

TEST_F(VerifyTest, WrongSignatureEndsTheOperation) {
    fakeLibrary().setResult("zelmor_verifySignatureHash", 5);
    ASSERT_EQ(CKR_OK, verifyInit(CKM_ECDSA, ecKey));
    EXPECT_EQ(CKR_SIGNATURE_INVALID, verifyOnce(Bytes(32, 1), Bytes(64, 2)));
    EXPECT_TRUE(hasErrorLine("Verify signature failed : 5"));
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, verifyOnce(Bytes(32, 1), Bytes(64, 2)));

    ASSERT_EQ(CKR_OK, verifyInit(CKM_ECDSA, ecKey));
    Bytes part(32, 1), signature(64, 2);
    ASSERT_EQ(CKR_OK, f()->C_VerifyUpdate(session, ptr(part), 32));
    EXPECT_EQ(CKR_SIGNATURE_INVALID, f()->C_VerifyFinal(session, ptr(signature), 64));
    EXPECT_TRUE(hasErrorLine("C_VerifyFinal: verify failed 5"));
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, f()->C_VerifyFinal(session, ptr(signature), 64));
}

TEST_F(VerifyTest, ArgumentErrorsLeaveTheOperationActive) {
    ASSERT_EQ(CKR_OK, verifyInit(CKM_RSA_PKCS));
    fakeLibrary().clearCalls();
    Bytes data(4, 1), signature(256, 2);
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_Verify(session, nullptr, 4, ptr(signature), 256));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_Verify(session, ptr(data), 0, ptr(signature), 256));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_Verify(session, ptr(data), 4, nullptr, 256));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_Verify(session, ptr(data), 4, ptr(signature), 0));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_VerifyUpdate(session, nullptr, 4));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_VerifyFinal(session, ptr(signature), 0));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_VerifyFinal(session, nullptr, 256));
    EXPECT_EQ(0u, deviceCalls());
    EXPECT_EQ(CKR_OK, f()->C_Verify(session, ptr(data), 4, ptr(signature), 256));
    EXPECT_EQ(data, fakeLibrary().calls("zelmor_verifySignatureHash").at(0).data);
}

// Hashed parts go through one hash context; raw parts are joined.
TEST_F(VerifyTest, PartsVerifyLikeOneCall) {
    const Bytes whole = bytesOf("abcdefghi");
    for (CK_MECHANISM_TYPE mechanism : {CKM_SHA256_RSA_PKCS, CKM_ECDSA}) {
        SCOPED_TRACE(mechanism);
        const CK_OBJECT_HANDLE key = mechanism == CKM_ECDSA ? ecKey : rsaKey;
        fakeLibrary().clearCalls();
        ASSERT_EQ(CKR_OK, verifyInit(mechanism, key));
        ASSERT_EQ(CKR_OK, verifyOnce(whole, Bytes(256, 9)));
        ASSERT_EQ(CKR_OK, verifyInit(mechanism, key));
        for (std::size_t i = 0; i < 9; i += 3) {
            Bytes part(whole.begin() + i, whole.begin() + i + 3);
            ASSERT_EQ(CKR_OK, f()->C_VerifyUpdate(session, ptr(part), 3));
        }
        Bytes signature(256, 9);
        ASSERT_EQ(CKR_OK, f()->C_VerifyFinal(session, ptr(signature), 256));
        auto verifies = fakeLibrary().calls("zelmor_verifySignatureHash");
        ASSERT_EQ(2u, verifies.size());
        EXPECT_EQ(verifies[0].data, verifies[1].data);
        EXPECT_EQ(mechanism == CKM_ECDSA ? 0u : 2u, fakeLibrary().callCount("zelmor_initHash"));
    }
    EXPECT_EQ(0, fakeLibrary().liveHashContexts());
}

TEST_F(VerifyTest, HashFailuresEndTheOperationLoggedOnlyInMultiPart) {
    fakeLibrary().setResult("zelmor_updateHash", 4);
    ASSERT_EQ(CKR_OK, verifyInit(CKM_SHA1_RSA_PKCS));
    EXPECT_EQ(CKR_FUNCTION_FAILED, verifyOnce(Bytes(3, 1), Bytes(256, 2)));
    EXPECT_FALSE(logMentions("hash failed"));
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, verifyOnce(Bytes(3, 1), Bytes(256, 2)));

    ASSERT_EQ(CKR_OK, verifyInit(CKM_SHA1_RSA_PKCS));
    Bytes part(3, 1);
    EXPECT_EQ(CKR_FUNCTION_FAILED, f()->C_VerifyUpdate(session, ptr(part), 3));
    EXPECT_TRUE(hasErrorLine("C_VerifyUpdate: updateHash failed 4"));
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, f()->C_VerifyUpdate(session, ptr(part), 3));
    EXPECT_EQ(0, fakeLibrary().liveHashContexts());
}

TEST_F(VerifyTest, PublicValueLengthFromTheDeviceIsClamped) {
    fakeLibrary().edit([](FakeState& state) {
        auto& keyPairs = state.devices[defaultDevice].keyPairs;
        keyPairs[0].publicValueLength = 5000;
        keyPairs[1].publicValueLength = -3;
    });
    ASSERT_EQ(CKR_OK, verifyInit(CKM_RSA_PKCS, rsaKey));
    ASSERT_EQ(CKR_OK, verifyOnce(Bytes(4, 1), Bytes(4, 2)));
    EXPECT_EQ(1024u, fakeLibrary().calls("zelmor_verifySignatureHash").at(0).identifier.size());
    ASSERT_EQ(CKR_OK, verifyInit(CKM_ECDSA, ecKey));
    ASSERT_EQ(CKR_OK, verifyOnce(Bytes(4, 1), Bytes(4, 2)));
    EXPECT_TRUE(fakeLibrary().calls("zelmor_verifySignatureHash").at(1).identifier.empty());
}
