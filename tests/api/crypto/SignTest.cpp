// Signing through the loaded module: two-call output, hashing per mechanism,
// multi-part input, failures that end the operation, bad input.
#include "CryptoTest.h"

using namespace testing_support;
using namespace crypto_tests;

namespace {

class SignTest : public CryptoTest {};

}  // namespace

TEST_F(SignTest, EachMechanismHashesWithItsAlgorithmOrPassesTheDataUnchanged) {
    const struct {
        CK_MECHANISM_TYPE mechanism;
        int32_t hashAlgorithm;  // 0: the data goes to the device unchanged
    } cases[] = {
        {CKM_RSA_PKCS, 0},        {CKM_SHA1_RSA_PKCS, 2}, {CKM_SHA256_RSA_PKCS, 3}, {CKM_SHA384_RSA_PKCS, 4},
        {CKM_SHA512_RSA_PKCS, 5}, {CKM_ECDSA, 0},         {CKM_ECDSA_SHA1, 2},      {CKM_ECDSA_SHA256, 3},
        {CKM_ECDSA_SHA384, 4},
    };
    Bytes data = bytesOf("the data to be signed");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mechanism);
        Bytes expectedInput = c.hashAlgorithm == 0 ? data : fakeDigestOf(c.hashAlgorithm, data);
        fakeLibrary().clearCalls();
        ASSERT_EQ(CKR_OK, signInit(c.mechanism, c.hashAlgorithm == 0 ? ecKey : rsaKey));
        signAll(data);
        auto hashes = fakeLibrary().calls("zelmor_initHash");
        if (c.hashAlgorithm == 0) {
            EXPECT_TRUE(hashes.empty());
        } else {
            ASSERT_EQ(1u, hashes.size());
            EXPECT_EQ(c.hashAlgorithm, hashes[0].number);
            EXPECT_EQ(64, fakeLibrary().calls("zelmor_finalHash").at(0).number2);
        }
        auto signs = fakeLibrary().calls("zelmor_signHash");
        ASSERT_EQ(1u, signs.size());
        EXPECT_EQ(expectedInput, signs[0].data);
    }
    EXPECT_EQ(0, fakeLibrary().liveHashContexts());
    EXPECT_TRUE(hasDebugLine("sign echanism : 64"));
}

TEST_F(SignTest, ArgumentErrorsLeaveTheOperationActive) {
    ASSERT_EQ(CKR_OK, signInit(CKM_RSA_PKCS));
    fakeLibrary().clearCalls();
    Bytes data(5, 1);
    CK_ULONG length = 0;
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_Sign(session, nullptr, 5, nullptr, &length));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_Sign(session, ptr(data), 0, nullptr, &length));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_Sign(session, ptr(data), 5, nullptr, nullptr));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_SignUpdate(session, nullptr, 5));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_SignUpdate(session, ptr(data), 0));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_SignFinal(session, nullptr, nullptr));
    EXPECT_EQ(0u, deviceCalls());
    EXPECT_EQ(CKR_OK, f()->C_Sign(session, ptr(data), 5, nullptr, &length));
}

TEST_F(SignTest, InitChecksInOrder) {
    CK_MECHANISM withParameter{CKM_SHA256_RSA_PKCS, &withParameter, 4};
    CK_MECHANISM lengthOnly{CKM_SHA256_RSA_PKCS, nullptr, 1};
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_SignInit(session, nullptr, rsaKey));
    EXPECT_EQ(CKR_MECHANISM_INVALID, signInit(CKM_ECDSA_SHA224));
    EXPECT_EQ(CKR_MECHANISM_INVALID, signInit(CKM_ECDSA_SHA512));
    EXPECT_EQ(CKR_MECHANISM_INVALID, signInit(CKM_SHA256_RSA_PKCS_PSS));
    EXPECT_EQ(CKR_MECHANISM_PARAM_INVALID, f()->C_SignInit(session, &withParameter, rsaKey));
    EXPECT_EQ(CKR_MECHANISM_PARAM_INVALID, f()->C_SignInit(session, &lengthOnly, rsaKey));
    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, signInit(CKM_RSA_PKCS, 0));
    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, signInit(CKM_RSA_PKCS, 0x6FFFFFFF));
    EXPECT_FALSE(logMentions("Invalid input handle in sign"));
    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, signInit(CKM_RSA_PKCS, missingKey));
    EXPECT_TRUE(hasErrorLine("Invalid input handle in sign : 1879048201"));
    // Public-key handles are not translated for signing.
    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, signInit(CKM_RSA_PKCS, rsaPublicKey));

    ASSERT_EQ(CKR_OK, signInit(CKM_RSA_PKCS));
    EXPECT_EQ(CKR_OPERATION_ACTIVE, signInit(CKM_RSA_PKCS));
    EXPECT_EQ(CKR_OPERATION_ACTIVE, f()->C_SignInit(session, nullptr, 0));
    signAll(Bytes(1, 1));

    // Other operations block signing; a read-only public session may not sign.
    ASSERT_EQ(CKR_OK, digestInit(CKM_SHA256));
    EXPECT_EQ(CKR_OPERATION_ACTIVE, signInit(CKM_RSA_PKCS));
    digestAll(Bytes(1, 1));
    CK_MECHANISM mechanism{CKM_RSA_PKCS, nullptr, 0};
    CK_SESSION_HANDLE readOnly = publicReadOnlySession();
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_SignInit(readOnly, &mechanism, rsaKey));
    EXPECT_TRUE(hasDebugLine("Sign init session state invalid : 0"));
    CK_SESSION_HANDLE searching = openSession();
    ASSERT_EQ(CKR_OK, f()->C_FindObjectsInit(searching, nullptr, 0));
    EXPECT_EQ(CKR_OPERATION_ACTIVE, f()->C_SignInit(searching, &mechanism, rsaKey));
}

// Hashed parts go through one hash context; raw parts are joined and reach
// the device only at the final call.
TEST_F(SignTest, PartsSignWhatOneCallSigns) {
    for (CK_MECHANISM_TYPE mechanism : {CKM_SHA384_RSA_PKCS, CKM_ECDSA}) {
        SCOPED_TRACE(mechanism);
        const bool hashed = mechanism != CKM_ECDSA;
        ASSERT_EQ(CKR_OK, signInit(mechanism, hashed ? rsaKey : ecKey));
        signAll(bytesOf("abc"));
        const Bytes single = fakeLibrary().calls("zelmor_signHash").at(0).data;
        ASSERT_EQ(CKR_OK, signInit(mechanism, hashed ? rsaKey : ecKey));
        fakeLibrary().clearCalls();
        Bytes ab = bytesOf("ab"), c = bytesOf("c");
        ASSERT_EQ(CKR_OK, f()->C_SignUpdate(session, ptr(ab), 2));
        ASSERT_EQ(CKR_OK, f()->C_SignUpdate(session, ptr(c), 1));
        EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_signHash"));
        if (!hashed) {
            EXPECT_EQ(0u, deviceCalls());
        }
        CK_ULONG length = 0;
        ASSERT_EQ(CKR_OK, f()->C_SignFinal(session, nullptr, &length));
        Bytes signature(length);
        ASSERT_EQ(CKR_OK, f()->C_SignFinal(session, ptr(signature), &length));
        ASSERT_EQ(1u, fakeLibrary().callCount("zelmor_signHash"));
        EXPECT_EQ(single, fakeLibrary().calls("zelmor_signHash").at(0).data);
        EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, f()->C_SignFinal(session, nullptr, &length));
        fakeLibrary().clearCalls();
    }
    EXPECT_EQ(0, fakeLibrary().liveHashContexts());
}

TEST_F(SignTest, EveryDeviceFailureEndsTheOperation) {
    struct Case {
        const char* operation;
        bool multiPart;
        const char* logLine;
    };
    const Case cases[] = {
        {"zelmor_initHash", false, "init hash failed -7"},
        {"zelmor_updateHash", false, "update hash failed -7"},
        {"zelmor_finalHash", false, "final hash failed -7"},
        {"zelmor_signHash", false, "Sign hash failed : -7"},
        {"zelmor_initHash", true, "C_SignUpdate: initHash failed -7"},
        {"zelmor_updateHash", true, "C_SignUpdate: updateHash failed -7"},
        {"zelmor_finalHash", true, "C_SignFinal: finalHash failed -7"},
        {"zelmor_signHash", true, "C_SignFinal: signHash failed -7"},
    };
    Bytes data = bytesOf("data");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.operation) + (c.multiPart ? " multi-part" : " single-part"));
        fakeLibrary().edit([](FakeState& state) { state.forcedResults.clear(); });
        ASSERT_EQ(CKR_OK, signInit(CKM_SHA256_RSA_PKCS));
        fakeLibrary().setResult(c.operation, -7);
        int liveBefore = fakeLibrary().liveHashContexts();
        CK_ULONG length = 0;
        if (c.multiPart) {
            CK_RV update = f()->C_SignUpdate(session, ptr(data), 4);
            CK_RV rv = update != CKR_OK ? update : f()->C_SignFinal(session, nullptr, &length);
            EXPECT_EQ(CKR_FUNCTION_FAILED, rv);
        } else {
            EXPECT_EQ(CKR_FUNCTION_FAILED, f()->C_Sign(session, ptr(data), 4, nullptr, &length));
        }
        EXPECT_TRUE(hasErrorLine(c.logLine));
        EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, f()->C_Sign(session, ptr(data), 4, nullptr, &length));
        // A context opened before a failure is finished, not left behind.
        EXPECT_EQ(liveBefore, fakeLibrary().liveHashContexts());
    }
}

TEST_F(SignTest, WithoutLoginTheEmptyPasswordReachesTheDevice) {
    ASSERT_EQ(CKR_OK, f()->C_Logout(session));
    ASSERT_EQ(CKR_OK, signInit(CKM_SHA1_RSA_PKCS));
    signAll(bytesOf("x"));
    EXPECT_EQ("", fakeLibrary().calls("zelmor_signHash").at(0).password);
    EXPECT_TRUE(hasDebugLine("Sign: password empty=1 hashLen=20 session state=2"));
}

TEST_F(SignTest, SignsWithTheKeyPairCopiedAtInit) {
    ASSERT_EQ(CKR_OK, signInit(CKM_RSA_PKCS, rsaKey));
    // Another key is looked at meanwhile and the device's list changes.
    CK_BYTE label[64];
    CK_ATTRIBUTE attribute{CKA_LABEL, label, sizeof label};
    f()->C_GetAttributeValue(session, ecKey, &attribute, 1);
    fakeLibrary().edit([](FakeState& state) { state.devices[defaultDevice].keyPairs.clear(); });
    signAll(Bytes(16, 3));
    auto signs = fakeLibrary().calls("zelmor_signHash");
    ASSERT_EQ(1u, signs.size());
    EXPECT_EQ(defaultDevice, signs[0].deviceName);
    EXPECT_EQ(defaultPin, signs[0].password);
    EXPECT_EQ(identifierOf(0), signs[0].identifier);
    EXPECT_EQ(1024, signs[0].number2);
    EXPECT_FALSE(signs[0].flag);
}

TEST_F(SignTest, AbandonedHashContextIsFinishedAtTheNextInit) {
    ASSERT_EQ(CKR_OK, signInit(CKM_SHA256_RSA_PKCS));
    Bytes data(8, 8);
    ASSERT_EQ(CKR_OK, f()->C_SignUpdate(session, ptr(data), 8));
    EXPECT_EQ(1, fakeLibrary().liveHashContexts());
    // A search overwrites the signing operation; the next Init releases its context.
    ASSERT_EQ(CKR_OK, f()->C_FindObjectsInit(session, nullptr, 0));
    ASSERT_EQ(CKR_OK, f()->C_FindObjectsFinal(session));
    ASSERT_EQ(CKR_OK, signInit(CKM_SHA256_RSA_PKCS));
    EXPECT_EQ(0, fakeLibrary().liveHashContexts());
}
