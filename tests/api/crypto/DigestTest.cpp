// Digesting through the loaded module, and the combined states that an
// encryption or decryption Init leaves an active digest in.
#include "CryptoTest.h"

using namespace testing_support;
using namespace crypto_tests;

namespace {
class DigestTest : public CryptoTest {};
}  // namespace

TEST_F(DigestTest, EachMechanismUsesItsHashAlgorithm) {
    const struct {
        CK_MECHANISM_TYPE mechanism;
        int32_t algorithm;
        std::size_t length;
    } cases[] = {{CKM_SHA_1, 2, 20}, {CKM_SHA256, 3, 32}, {CKM_SHA384, 4, 48}, {CKM_SHA512, 5, 64}};
    Bytes data = bytesOf("digest me");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mechanism);
        Bytes expected = fakeDigestOf(c.algorithm, data);
        fakeLibrary().clearCalls();
        ASSERT_EQ(CKR_OK, digestInit(c.mechanism));
        EXPECT_EQ(c.algorithm, fakeLibrary().calls("zelmor_initHash").at(0).number);
        EXPECT_EQ(defaultDevice, fakeLibrary().calls("zelmor_initHash").at(0).deviceName);
        Bytes digest = digestAll(data);
        EXPECT_EQ(c.length, digest.size());
        EXPECT_EQ(expected, digest);
        // The length argument is output only.
        EXPECT_EQ(0, fakeLibrary().calls("zelmor_finalHash").at(0).number2);
    }
    EXPECT_TRUE(hasDebugLine("C_Digest Success"));
}

// A result kept for a too-short buffer can be fetched by C_DigestFinal.
TEST_F(DigestTest, ResultOfAShortBufferIsFetchedByDigestFinal) {
    ASSERT_EQ(CKR_OK, digestInit(CKM_SHA_1));
    Bytes data = bytesOf("abc"), digest(19);
    CK_ULONG length = 19;
    EXPECT_EQ(CKR_BUFFER_TOO_SMALL, call(f()->C_Digest, data, ptr(digest), &length));
    digest.resize(20);
    EXPECT_EQ(CKR_OK, f()->C_DigestFinal(session, ptr(digest), &length));
    EXPECT_EQ(fakeDigestOf(2, data), digest);
    EXPECT_TRUE(hasDebugLine("C_DigestFinal Success"));
}

TEST_F(DigestTest, PartsGiveTheSameDigestAsOneCall) {
    ASSERT_EQ(CKR_OK, digestInit(CKM_SHA512));
    Bytes whole = digestAll(bytesOf("abc"));
    ASSERT_EQ(CKR_OK, digestInit(CKM_SHA512));
    Bytes ab = bytesOf("ab"), c = bytesOf("c");
    ASSERT_EQ(CKR_OK, f()->C_DigestUpdate(session, ptr(ab), 2));
    ASSERT_EQ(CKR_OK, f()->C_DigestUpdate(session, ptr(c), 1));
    CK_ULONG length = 0;
    ASSERT_EQ(CKR_OK, f()->C_DigestFinal(session, nullptr, &length));
    Bytes parts(length);
    ASSERT_EQ(CKR_OK, f()->C_DigestFinal(session, ptr(parts), &length));
    EXPECT_EQ(whole, parts);
    EXPECT_EQ(0, fakeLibrary().liveHashContexts());
}

TEST_F(DigestTest, InitChecks) {
    CK_SESSION_HANDLE readOnly = publicReadOnlySession();
    CK_MECHANISM sha256{CKM_SHA256, nullptr, 0};
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_DigestInit(readOnly, &sha256));
    EXPECT_TRUE(hasDebugLine("Digest init session state invalid : 0"));

    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_DigestInit(session, nullptr));
    EXPECT_TRUE(hasErrorLine("C_DigestInit mechanism pointer in NULL"));
    EXPECT_EQ(CKR_MECHANISM_INVALID, digestInit(CKM_MD5));
    EXPECT_TRUE(hasErrorLine("C_DigestInit mechanism not supported"));
    // The parameter is not examined.
    CK_MECHANISM withParameter{CKM_SHA256, &withParameter, 3};
    EXPECT_EQ(CKR_OK, f()->C_DigestInit(session, &withParameter));

    // Started again: a fresh digest; the first context is released.
    ASSERT_EQ(CKR_OK, digestInit(CKM_SHA256));
    EXPECT_EQ(1, fakeLibrary().liveHashContexts());
    EXPECT_EQ(fakeDigestOf(3, bytesOf("z")), digestAll(bytesOf("z")));

    ASSERT_EQ(CKR_OK, signInit(CKM_RSA_PKCS));
    EXPECT_EQ(CKR_OPERATION_ACTIVE, digestInit(CKM_SHA256));
}

TEST_F(DigestTest, DeviceFailuresDoNotEndTheDigest) {
    fakeLibrary().setResult("zelmor_initHash", 11);
    EXPECT_EQ(CKR_FUNCTION_FAILED, digestInit(CKM_SHA256));
    EXPECT_TRUE(hasErrorLine("Init hash in diges init failed : 11"));
    CK_ULONG length = 0;
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, f()->C_DigestFinal(session, nullptr, &length));

    fakeLibrary().edit([](FakeState& state) { state.forcedResults.clear(); });
    ASSERT_EQ(CKR_OK, digestInit(CKM_SHA256));
    fakeLibrary().setResult("zelmor_updateHash", 12);
    Bytes data = bytesOf("abc");
    EXPECT_EQ(CKR_FUNCTION_FAILED, f()->C_DigestUpdate(session, ptr(data), 3));
    EXPECT_TRUE(hasErrorLine("Update hash data in digest update failed : 12"));
    EXPECT_EQ(CKR_FUNCTION_FAILED, f()->C_Digest(session, ptr(data), 3, nullptr, &length));
    EXPECT_TRUE(hasErrorLine("Update hash data in diget failed : 12"));

    // The context survived the failed updates; a failed final ends it but not the digest.
    fakeLibrary().edit([](FakeState& state) { state.forcedResults.clear(); });
    EXPECT_EQ(CKR_OK, f()->C_DigestUpdate(session, ptr(data), 3));
    fakeLibrary().setResult("zelmor_finalHash", 13);
    EXPECT_EQ(CKR_FUNCTION_FAILED, f()->C_DigestFinal(session, nullptr, &length));
    EXPECT_TRUE(hasErrorLine("Final hash data in diget failed : 13"));
    EXPECT_EQ(CKR_FUNCTION_FAILED, f()->C_Digest(session, ptr(data), 3, nullptr, &length));
    fakeLibrary().edit([](FakeState& state) { state.forcedResults.clear(); });
    EXPECT_EQ(CKR_OK, digestInit(CKM_SHA256));
    EXPECT_EQ(fakeDigestOf(3, data), digestAll(data));
    EXPECT_EQ(0, fakeLibrary().liveHashContexts());
}

TEST_F(DigestTest, ArgumentErrorsLeaveTheDigestActive) {
    Bytes data(3, 1), digest(64);
    CK_ULONG length = 64;
    ASSERT_EQ(CKR_OK, digestInit(CKM_SHA256));
    fakeLibrary().clearCalls();
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_Digest(session, nullptr, 3, ptr(digest), &length));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_Digest(session, ptr(data), 0, ptr(digest), &length));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_Digest(session, ptr(data), 3, ptr(digest), nullptr));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_DigestUpdate(session, nullptr, 3));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_DigestUpdate(session, ptr(data), 0));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_DigestFinal(session, ptr(digest), nullptr));
    EXPECT_EQ(0u, deviceCalls());
    EXPECT_EQ(CKR_OK, f()->C_Digest(session, ptr(data), 3, ptr(digest), &length));
}

TEST_F(DigestTest, CombinedStatesLetNothingProceedUntilASearchStarts) {
    Bytes data(4, 1), out(1024);
    CK_ULONG length = 1024;
    for (bool encrypting : {true, false}) {
        SCOPED_TRACE(encrypting ? "DigestEncrypt" : "DecryptDigest");
        ASSERT_EQ(CKR_OK, digestInit(CKM_SHA256));
        ASSERT_EQ(CKR_OK, encrypting ? encryptInit() : decryptInit());
        EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, f()->C_Encrypt(session, ptr(data), 4, ptr(out), &length));
        EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, f()->C_Decrypt(session, ptr(data), 4, ptr(out), &length));
        EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, f()->C_Digest(session, ptr(data), 4, ptr(out), &length));
        EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, f()->C_DigestUpdate(session, ptr(data), 4));
        EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, f()->C_DigestFinal(session, ptr(out), &length));
        EXPECT_EQ(CKR_OPERATION_ACTIVE, digestInit(CKM_SHA256));
        EXPECT_EQ(CKR_OPERATION_ACTIVE, signInit(CKM_RSA_PKCS));
        EXPECT_EQ(CKR_OPERATION_ACTIVE, verifyInit(CKM_RSA_PKCS));
        EXPECT_EQ(CKR_OPERATION_ACTIVE, encryptInit());
        EXPECT_EQ(CKR_OPERATION_ACTIVE, decryptInit());
        EXPECT_EQ(CKR_FUNCTION_NOT_SUPPORTED, f()->C_DigestEncryptUpdate(session, ptr(data), 4, ptr(out), &length));

        ASSERT_EQ(CKR_OK, f()->C_FindObjectsInit(session, nullptr, 0));
        ASSERT_EQ(CKR_OK, f()->C_FindObjectsFinal(session));
    }
    EXPECT_EQ(CKR_OK, signInit(CKM_RSA_PKCS));
}

TEST_F(DigestTest, UnfinishedDigestsAreHandedBackWhenSessionsGo) {
    Bytes data = bytesOf("left unfinished");
    ASSERT_EQ(CKR_OK, digestInit(CKM_SHA256));
    ASSERT_EQ(CKR_OK, f()->C_DigestUpdate(session, ptr(data), static_cast<CK_ULONG>(data.size())));
    EXPECT_EQ(1, fakeLibrary().liveHashContexts());
    ASSERT_EQ(CKR_OK, f()->C_CloseSession(session));
    EXPECT_EQ(0, fakeLibrary().liveHashContexts());

    // Closing every session hands back the contexts of all of them.
    CK_SESSION_HANDLE first = openSession(), second = openSession();
    for (CK_SESSION_HANDLE handle : {first, second}) {
        CK_MECHANISM mechanism{CKM_SHA_1, nullptr, 0};
        ASSERT_EQ(CKR_OK, f()->C_DigestInit(handle, &mechanism));
        ASSERT_EQ(CKR_OK, f()->C_DigestUpdate(handle, ptr(data), static_cast<CK_ULONG>(data.size())));
    }
    EXPECT_EQ(2, fakeLibrary().liveHashContexts());
    ASSERT_EQ(CKR_OK, f()->C_CloseAllSessions(firstSlot));
    EXPECT_EQ(0, fakeLibrary().liveHashContexts());
}
