// Verification through the loaded module.
#include "CryptoTest.h"

using namespace testing_support;
using namespace crypto_tests;

namespace {

class VerifyTest : public CryptoTest {
protected:
    CK_RV verifyOnce(const Bytes& data, const Bytes& signature) {
        Bytes d = data, s = signature;
        return f()->C_Verify(session, ptr(d), static_cast<CK_ULONG>(d.size()), ptr(s), static_cast<CK_ULONG>(s.size()));
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

TEST_F(VerifyTest, ReadOnlyPublicSessionAndMechanismParameterAreAccepted) {
    CK_SESSION_HANDLE readOnly = publicReadOnlySession();
    CK_MECHANISM withParameter{CKM_ECDSA, &withParameter, 8};
    EXPECT_EQ(CKR_OK, f()->C_VerifyInit(readOnly, &withParameter, ecKey));
}

TEST_F(VerifyTest, InitChecks) {
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_VerifyInit(session, nullptr, rsaKey));
    EXPECT_EQ(CKR_MECHANISM_INVALID, verifyInit(CKM_ECDSA_SHA224));
    EXPECT_EQ(CKR_MECHANISM_INVALID, verifyInit(CKM_SHA_1));
    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, verifyInit(CKM_RSA_PKCS, 5));
    EXPECT_FALSE(logMentions("Invalid input handle in verify"));
    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, verifyInit(CKM_RSA_PKCS, 0x70001009));
    EXPECT_TRUE(hasErrorLine("Invalid input handle in verify : 1879052297"));

    ASSERT_EQ(CKR_OK, signInit(CKM_RSA_PKCS));
    EXPECT_EQ(CKR_OPERATION_ACTIVE, verifyInit(CKM_RSA_PKCS));
    CK_SESSION_HANDLE searching = openSession();
    ASSERT_EQ(CKR_OK, f()->C_FindObjectsInit(searching, nullptr, 0));
    CK_MECHANISM mechanism{CKM_RSA_PKCS, nullptr, 0};
    EXPECT_EQ(CKR_OPERATION_ACTIVE, f()->C_VerifyInit(searching, &mechanism, rsaKey));
}

TEST_F(VerifyTest, InitReplacesAnActiveDigest) {
    ASSERT_EQ(CKR_OK, digestInit(CKM_SHA256));
    ASSERT_EQ(CKR_OK, verifyInit(CKM_RSA_PKCS));
    CK_ULONG length = 0;
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, f()->C_DigestFinal(session, nullptr, &length));
    EXPECT_EQ(0, fakeLibrary().liveHashContexts());
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

TEST_F(VerifyTest, CallsWithoutInitAreRefused) {
    Bytes data(4, 1), signature(4, 2);
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, f()->C_Verify(session, ptr(data), 4, ptr(signature), 4));
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, f()->C_VerifyUpdate(session, ptr(data), 4));
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, f()->C_VerifyFinal(session, ptr(signature), 4));
}

TEST_F(VerifyTest, ThreePartsVerifyLikeOneCall) {
    Bytes whole = bytesOf("abcdefghi");
    ASSERT_EQ(CKR_OK, verifyInit(CKM_SHA256_RSA_PKCS));
    ASSERT_EQ(CKR_OK, verifyOnce(whole, Bytes(256, 9)));
    Bytes single = fakeLibrary().calls("zelmor_verifySignatureHash").at(0).data;
    fakeLibrary().clearCalls();

    ASSERT_EQ(CKR_OK, verifyInit(CKM_SHA256_RSA_PKCS));
    for (std::size_t i = 0; i < 9; i += 3) {
        Bytes part(whole.begin() + i, whole.begin() + i + 3);
        ASSERT_EQ(CKR_OK, f()->C_VerifyUpdate(session, ptr(part), 3));
    }
    Bytes signature(256, 9);
    ASSERT_EQ(CKR_OK, f()->C_VerifyFinal(session, ptr(signature), 256));
    EXPECT_EQ(1u, fakeLibrary().callCount("zelmor_initHash"));
    EXPECT_EQ(single, fakeLibrary().calls("zelmor_verifySignatureHash").at(0).data);
    EXPECT_EQ(0, fakeLibrary().liveHashContexts());

    // Raw parts are concatenated.
    ASSERT_EQ(CKR_OK, verifyInit(CKM_ECDSA, ecKey));
    Bytes a(3, 0xA), b(5, 0xB);
    ASSERT_EQ(CKR_OK, f()->C_VerifyUpdate(session, ptr(a), 3));
    ASSERT_EQ(CKR_OK, f()->C_VerifyUpdate(session, ptr(b), 5));
    ASSERT_EQ(CKR_OK, f()->C_VerifyFinal(session, ptr(signature), 64));
    Bytes joined = a;
    joined.insert(joined.end(), b.begin(), b.end());
    EXPECT_EQ(joined, fakeLibrary().calls("zelmor_verifySignatureHash").back().data);
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
